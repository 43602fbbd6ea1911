// The formats a Windows clipboard holds beside plain content, and how a snapshot of it treats
// each. Formats are named as the clipboard listing names them (win_clipboard_formats.cpp).

#include "platform/windows/win_clipboard.hpp"

namespace deskagent::platform::windows {

const std::vector<PasteboardTypeRule>& windowsTypeRules() {
  static const std::vector<PasteboardTypeRule> rules = {
      {"#gdi:*", TypeRule::leftOut,
       "a GDI object (bitmap, metafile, palette) or owner display: a handle, not bytes"},
      {"#private:*", TypeRule::leftOut, "an application's private handle, meaningless to others"},
      // Windows derives these from the Unicode text, which it offers whenever either is there,
      // and derives them again from the text put back (through the CF_LOCALE kept with it).
      {"#1", TypeRule::leftOut, "CF_TEXT: the Unicode text in the ANSI code page, derived"},
      {"#7", TypeRule::leftOut, "CF_OEMTEXT: the Unicode text in the OEM code page, derived"},
      // One bitmap: Windows lists the format the owner placed first, then those it converts it
      // to, so the first listed is the owner's and the other is derived from it again.
      {"#8", TypeRule::imageEncoding, "CF_DIB: a bitmap, or CF_DIBV5's bitmap derived"},
      {"#17", TypeRule::imageEncoding, "CF_DIBV5: a bitmap, or CF_DIB's bitmap derived"},
      // OLE's own formats name the copying program's live data object, not content: put back by
      // another owner, they point a paste at an object that may have gone.
      {"Ole Private Data", TypeRule::leftOut, "OLE's list of the source's data object's formats"},
      {"DataObject", TypeRule::leftOut, "the window of the source's OLE clipboard, a handle"},
      {"Wine Marshalled DataObject", TypeRule::leftOut,
       "the source's data object marshalled by Wine's OLE, a handle into that process"},
      {"OleClipboardPersistOnFlush", TypeRule::leftOut, "asks OLE to keep the source's object"},
  };
  return rules;
}

}  // namespace deskagent::platform::windows
