#include "agent/snapshot_policy.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace deskagent {

using platform::PasteboardTypeRule;
using platform::TypeRule;

namespace {

bool matches(std::string_view pattern, std::string_view type) {
  if (!pattern.empty() && pattern.back() == '*') {
    return type.substr(0, pattern.size() - 1) == pattern.substr(0, pattern.size() - 1);
  }
  return type == pattern;
}

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool namesAny(std::string_view type, std::initializer_list<std::string_view> words) {
  std::string name = lowered(type);
  return std::any_of(words.begin(), words.end(),
                     [&](std::string_view w) { return name.find(w) != std::string::npos; });
}

}  // namespace

const PasteboardTypeRule* ruleFor(std::string_view type,
                                  const std::vector<PasteboardTypeRule>& rules) {
  for (const PasteboardTypeRule& rule : rules) {
    if (matches(rule.pattern, type)) return &rule;
  }
  return nullptr;
}

std::size_t preferredImageEncoding(const std::vector<std::string>& encodings) {
  for (std::size_t i = 0; i < encodings.size(); ++i) {
    if (namesAny(encodings[i], {"png"})) return i;
  }
  // Lossy encodings would save less than the owner holds; any other keeps every pixel.
  for (std::size_t i = 0; i < encodings.size(); ++i) {
    if (!namesAny(encodings[i], {"jpeg", "jpg", "webp", "avif", "heic", "jxl"})) return i;
  }
  return 0;
}

std::vector<ItemPlan> planSnapshot(const platform::PasteboardListing& listing,
                                   const std::vector<PasteboardTypeRule>& rules) {
  std::vector<ItemPlan> plans;
  for (const std::vector<std::string>& types : listing.items) {
    ItemPlan& plan = plans.emplace_back();
    std::vector<std::string> images;
    std::vector<std::string> whenAlone;
    std::vector<std::string> content;  // in the owner's order, the chosen image among it
    for (const std::string& type : types) {
      // A type listed twice is read once.
      if (std::find(content.begin(), content.end(), type) != content.end()) continue;
      const PasteboardTypeRule* rule = ruleFor(type, rules);
      if (rule == nullptr) {
        content.push_back(type);
        continue;
      }
      switch (rule->rule) {
        case TypeRule::meta:
          break;
        case TypeRule::leftOut:
          plan.contentLeftOut = true;
          break;
        case TypeRule::keptWhenAlone:
          whenAlone.push_back(type);
          break;
        case TypeRule::imageEncoding:
          images.push_back(type);
          break;
      }
    }
    if (!images.empty()) {
      std::string chosen = images[preferredImageEncoding(images)];
      if (images.size() > 1) plan.contentLeftOut = true;
      // The image keeps its place among the owner's types.
      auto at = std::find(types.begin(), types.end(), chosen);
      std::size_t before = 0;
      for (auto it = types.begin(); it != at; ++it) {
        if (std::find(content.begin(), content.end(), *it) != content.end()) ++before;
      }
      content.insert(content.begin() + static_cast<std::ptrdiff_t>(before), chosen);
    }
    if (content.empty()) {
      plan.reads = std::move(whenAlone);
    } else {
      plan.reads = std::move(content);
      if (!whenAlone.empty()) plan.contentLeftOut = true;
    }
  }
  return plans;
}

bool holdsDictatedText(const platform::PasteboardListing& listing) {
  return std::any_of(listing.items.begin(), listing.items.end(), [](const auto& types) {
    return std::find(types.begin(), types.end(), platform::kTransferMarkerType) != types.end();
  });
}

}  // namespace deskagent
