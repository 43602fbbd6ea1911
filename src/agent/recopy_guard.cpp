#include "agent/recopy_guard.hpp"

#include <functional>
#include <new>
#include <string>
#include <utility>

#include "agent/agent.hpp"
#include "agent/delays.hpp"

namespace deskagent {

namespace {

std::string_view withoutTrailingLineFeeds(std::string_view text) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

bool anyRepresentation(const SavedClipboard& saved,
                       const std::function<bool(std::string_view)>& is) {
  for (const auto& item : saved.contents.items) {
    for (const auto& rep : item.representations) {
      if (is(rep.data.str())) return true;
    }
  }
  return false;
}

}  // namespace

DictatedText::DictatedText(std::string_view text) : size_(text.size()) {
  std::string_view trimmed = withoutTrailingLineFeeds(text);
  trimmedSize_ = trimmed.size();
  trimmedHash_ = std::hash<std::string_view>{}(trimmed);
}

bool DictatedText::copiedIn(std::string_view text) const {
  // Nothing but line feeds would be known in any empty copy.
  if (trimmedSize_ == 0 || text.size() > size_) return false;
  std::string_view trimmed = withoutTrailingLineFeeds(text);
  return trimmed.size() == trimmedSize_ && std::hash<std::string_view>{}(trimmed) == trimmedHash_;
}

bool DictatedText::heldBy(const SavedClipboard& saved) const {
  return anyRepresentation(saved, [this](std::string_view bytes) { return copiedIn(bytes); });
}

void RecopyGuard::start(const SavedClipboard& saved, DictatedText dictated) {
  end();
  if (agent_.transfers.hurried()) return;
  held_ = GuardedClipboard{saved, dictated};  // shares the bytes
  until_ = agent_.loop.now() + delays::kRecopyGuard;
  seenCount_ = agent_.platform.pasteboardChangeCount();
  std::weak_ptr<RecopyGuard> weak = weak_from_this();
  poll_ = agent_.loop.startRepeating(delays::kRecopyPoll, [weak] {
    if (auto self = weak.lock()) self->look();
  });
}

std::optional<GuardedClipboard> RecopyGuard::end() {
  ++generation_;
  poll_.reset();
  return std::exchange(held_, std::nullopt);
}

void RecopyGuard::look() {
  // The agent is ending: what is on the clipboard stays.
  if (agent_.loop.now() >= until_ || agent_.transfers.hurried()) {
    end();
    return;
  }
  std::int64_t count = agent_.platform.pasteboardChangeCount();
  // One read at a time, even one an earlier guard gave up on: an owner asked twice at once by
  // one client may answer neither.
  if (readInFlight_ || count == seenCount_) return;
  // The target's own copy is the user's, whatever it holds; and a read that would make the
  // system ask the user is not made unasked.
  if (agent_.platform.pasteboardWriter() == platform::PasteboardWriter::chordTarget ||
      agent_.platform.pasteboardAccessBehavior() != platform::kPasteboardAccessAlwaysAllow) {
    end();
    return;
  }
  seenCount_ = count;
  readInFlight_ = true;
  std::weak_ptr<RecopyGuard> weak = weak_from_this();
  agent_.platform.readPasteboardText([weak, generation = generation_](auto text) {
    if (auto self = weak.lock()) self->textRead(generation, std::move(text));
  });
}

bool RecopyGuard::afterRead(Task then) {
  if (!readInFlight_ || agent_.transfers.hurried()) return false;
  afterRead_ = std::move(then);
  return true;
}

void RecopyGuard::releaseWaiter() {
  if (auto then = std::exchange(afterRead_, nullptr)) agent_.loop.post(std::move(then));
}

void RecopyGuard::textRead(std::uint64_t generation, std::optional<std::string> text) {
  readInFlight_ = false;
  releaseWaiter();
  if (generation != generation_ || !held_) return;
  if (text && held_->dictated.copiedIn(*text)) {
    try {
      restoreClipboard(agent_.platform, held_->saved);
    } catch (const std::bad_alloc&) {
      end();  // no room to put it back: the manager's copy stays
      return;
    }
    seenCount_ = agent_.platform.pasteboardChangeCount();
  } else if (!text || !usersOwnText(*text)) {
    end();  // the user's copy
  }
}

// A manager's copy of the user's clipboard, as put back (clipman copies that too, as text).
bool RecopyGuard::usersOwnText(std::string_view text) const {
  std::string_view trimmed = withoutTrailingLineFeeds(text);
  return !trimmed.empty() && anyRepresentation(held_->saved, [trimmed](std::string_view bytes) {
    return withoutTrailingLineFeeds(bytes) == trimmed;
  });
}

}  // namespace deskagent
