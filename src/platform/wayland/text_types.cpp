#include "platform/wayland/text_types.hpp"

#include <algorithm>
#include <utility>

namespace deskagent::platform::wayland {

namespace {

// Clipboard managers that honour them keep the text out of their history: KDE's convention
// (Klipper, CopyQ 8 and later) and CopyQ's own formats (CopyQ before 8, as Debian 12 ships).
constexpr std::array<std::pair<const char*, const char*>, 3> kNotForHistory = {
    {{"x-kde-passwordManagerHint", "secret"},
     {"application/x-copyq-hidden", "1"},
     {"application/x-copyq-secret", "1"}}};

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
  for (const auto& [type, value] : kNotForHistory) {
    contents.items.front().representations.push_back({type, value});
  }
  contents.items.front().representations.push_back({kTransferMarkerType, "1"});
  return contents;
}

}  // namespace deskagent::platform::wayland
