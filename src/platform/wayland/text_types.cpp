#include "platform/wayland/text_types.hpp"

#include <algorithm>

namespace deskagent::platform::wayland {

namespace {

// Clipboard managers that honour it keep the text out of their history.
constexpr const char* kSecretHintType = "x-kde-passwordManagerHint";

}  // namespace

bool isTextType(const std::string& type) {
  return std::find(kTextTypes.begin(), kTextTypes.end(), type) != kTextTypes.end();
}

PasteboardContents textContents(const std::string& text) {
  PasteboardItem item;
  Bytes shared = text;
  for (const char* type : kTextTypes) item.representations.push_back({type, shared});
  return PasteboardContents{{item}};
}

PasteboardContents dictatedContents(const std::string& text) {
  PasteboardContents contents = textContents(text);
  contents.items.front().representations.push_back({kSecretHintType, "secret"});
  contents.items.front().representations.push_back({kTransferMarkerType, "1"});
  return contents;
}

}  // namespace deskagent::platform::wayland
