// Which key types a letter in the user's current keyboard layout, so the paste and copy shortcuts
// press the key that means "v" and "c" there (on Dvorak the ANSI V position types "k").

#include <Carbon/Carbon.h>

#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {
namespace {

// The character `keyCode` types with Command held: a shortcut is matched on that character, and
// layouts such as "Dvorak - QWERTY Command" switch to another table while Command is down.
UniChar characterWithCommand(const UCKeyboardLayout* layout, UInt16 keyCode) {
  UInt32 deadKeyState = 0;
  UniChar characters[4];
  UniCharCount length = 0;
  OSStatus status =
      UCKeyTranslate(layout, keyCode, kUCKeyActionDown, (cmdKey >> 8) & 0xFF, LMGetKbdType(),
                     kUCKeyTranslateNoDeadKeysMask, &deadKeyState, 4, &length, characters);
  return status == noErr && length == 1 ? characters[0] : 0;
}

}  // namespace

std::uint16_t MacPlatform::keyCodeForShortcutLetter(char letter, std::uint16_t ansiFallback) {
  TISInputSourceRef source = TISCopyCurrentKeyboardLayoutInputSource();
  if (source == nullptr) return ansiFallback;
  // Layouts without the letter (Cyrillic, Greek, ...) get the ANSI position: the system maps
  // Command shortcuts there itself.
  std::uint16_t found = ansiFallback;
  auto data =
      static_cast<CFDataRef>(TISGetInputSourceProperty(source, kTISPropertyUnicodeKeyLayoutData));
  if (data != nullptr) {
    auto layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
    for (UInt16 keyCode = 0; keyCode < 128; ++keyCode) {
      if (characterWithCommand(layout, keyCode) == static_cast<UniChar>(letter)) {
        found = keyCode;
        break;
      }
    }
  }
  CFRelease(source);
  return found;
}

}  // namespace deskagent::platform
