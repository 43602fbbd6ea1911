// The formats a Windows clipboard holds beside plain content, and how a snapshot of it treats
// each. Formats are named as the clipboard listing names them (win_clipboard.cpp).

#include "platform/windows/win_clipboard.hpp"

namespace deskagent::platform::windows {

const std::vector<PasteboardTypeRule>& windowsTypeRules() {
  static const std::vector<PasteboardTypeRule> rules = {
      {"#gdi:*", TypeRule::leftOut,
       "a GDI object (bitmap, metafile, palette) or owner display: a handle, not bytes"},
      {"#private:*", TypeRule::leftOut, "an application's private handle, meaningless to others"},
  };
  return rules;
}

}  // namespace deskagent::platform::windows
