// The backend's pure pieces: key codes and flag words, the terminal list, text encodings and the
// microphone probe. No X server needed.

#include <X11/keysym.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/linux/capture_devices.hpp"
#include "platform/platform.hpp"
#include "platform/x11/x11_keys.hpp"
#include "platform/linux/terminals.hpp"
#include "platform/x11/x11_text.hpp"

namespace deskagent::platform::x11 {
namespace {

TEST(X11Keys, ModifierKeysymsMapToTheHostsKeyCodes) {
  struct Row {
    unsigned long keysym;
    std::int64_t mac;
  };
  for (auto [keysym, mac] :
       {Row{XK_Shift_L, 56}, Row{XK_Shift_R, 60}, Row{XK_Control_L, 59}, Row{XK_Control_R, 62},
        Row{XK_Alt_L, 58}, Row{XK_Alt_R, 61}, Row{XK_ISO_Level3_Shift, 61}, Row{XK_Super_L, 55},
        Row{XK_Meta_L, 55}, Row{XK_Super_R, 54}, Row{XK_Meta_R, 54}, Row{XK_Caps_Lock, 57},
        Row{0x100811D0, 63}}) {
    EXPECT_EQ(macKeyCodeForModifierKeysym(keysym), mac) << std::hex << keysym;
  }
  EXPECT_FALSE(macKeyCodeForModifierKeysym(XK_a));
  EXPECT_FALSE(macKeyCodeForModifierKeysym(XK_Num_Lock));
}

TEST(X11Keys, FlagsCarryEveryHeldKeysOwnBitAndTheKindsBit) {
  HeldModifiers held;
  EXPECT_EQ(modifierFlags(held, false), 0u);
  held.set(kMacRightOption, true);
  EXPECT_EQ(modifierFlags(held, false), 0x40u | kFlagAlternate);
  held.set(kMacLeftOption, true);
  EXPECT_EQ(modifierFlags(held, false), 0x60u | kFlagAlternate);
  held.set(kMacRightOption, false);
  EXPECT_EQ(modifierFlags(held, false), 0x20u | kFlagAlternate);  // the left key alone remains

  HeldModifiers each;
  for (std::int64_t code : {54, 55, 56, 59, 60, 62}) each.set(code, true);
  EXPECT_EQ(modifierFlags(each, false),
            0x10u | 0x8u | 0x2u | 0x1u | 0x4u | 0x2000u | kFlagCommand | kFlagShift | kFlagControl);

  // Caps Lock reports its lock state, whether or not its key is down; Fn its own flag.
  HeldModifiers caps;
  caps.set(kMacCapsLock, true);
  EXPECT_EQ(modifierFlags(caps, false), 0u);
  EXPECT_EQ(modifierFlags(HeldModifiers{}, true), kFlagAlphaShift);
  HeldModifiers fn;
  fn.set(kMacFn, true);
  EXPECT_EQ(modifierFlags(fn, false), kFlagSecondaryFn);
}

TEST(X11Keys, TheKeysThatWouldDisturbAChord) {
  EXPECT_TRUE(isChordDisturbingKeysym(XK_Shift_R));
  EXPECT_TRUE(isChordDisturbingKeysym(XK_ISO_Level3_Shift));
  // Pressing a lock key again would toggle its lock.
  EXPECT_FALSE(isChordDisturbingKeysym(XK_Caps_Lock));
  EXPECT_FALSE(isChordDisturbingKeysym(XK_Num_Lock));
}

TEST(X11Terminals, KnownTerminalsByInstanceOrClassInAnyCaseWithTheirPasteKeys) {
  constexpr auto none = TerminalKind::none, keys = TerminalKind::clipboardKeys,
                 primary = TerminalKind::primaryOnly;
  struct Case {
    const char* instance;
    const char* className;
    TerminalKind kind;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"xterm", "XTerm", primary},
           {"urxvt", "URxvt", primary},
           {"", "UXTerm", primary},
           {"gnome-terminal-server", "Gnome-terminal", keys},
           {"", "Alacritty", keys},
           {"kitty", "", keys},
           {"st-256color", "st-256color", keys},
           {"firefox", "Firefox", none},
           {"xterminal-notes", "Notes", none},  // whole names only
           {"", "", none},
       }) {
    EXPECT_EQ(terminalKindOfClass(c.instance, c.className), c.kind) << c.instance << c.className;
  }
}

TEST(X11Text, Latin1AndUtf8BothWays) {
  EXPECT_EQ(latin1ToUtf8("caf\xe9"), "caf\xc3\xa9");
  EXPECT_EQ(utf8ToLatin1("caf\xc3\xa9"), "caf\xe9");
  // What Latin-1 cannot hold, and broken UTF-8, become '?'.
  EXPECT_EQ(utf8ToLatin1("\xe2\x82\xac 5"), "? 5");
  EXPECT_EQ(utf8ToLatin1("a\xc3"), "a?");
  EXPECT_EQ(utf8ToLatin1("\xff"
                         "b"),
            "?b");
  EXPECT_EQ(utf8ToLatin1("\xf0\x9f\x98\x80!"), "?!");
}

// Only capture nodes count; a readable one is granted, only unreadable ones denied.
TEST(CaptureDevices, OnlyCaptureNodesCount) {
  char name[] = "/tmp/deskagent-snd-XXXXXX";
  ASSERT_NE(::mkdtemp(name), nullptr);
  const std::string dir = name;
  auto node = [&](const std::string& file, mode_t mode) {
    std::ofstream(dir + "/" + file).put('x');
    ::chmod((dir + "/" + file).c_str(), mode);
  };
  EXPECT_EQ(captureDeviceAuthorization(dir), -1);  // none: unknown
  node("pcmC0D0p", 0644);                          // playback
  node("controlC0", 0644);
  node("pcmC0D0cx", 0644);
  EXPECT_EQ(captureDeviceAuthorization(dir), -1);
  if (::geteuid() != 0) {  // root may open any node
    node("pcmC0D0c", 0200);
    EXPECT_EQ(captureDeviceAuthorization(dir), 2);
  }
  node("pcmC1D12c", 0644);
  EXPECT_EQ(captureDeviceAuthorization(dir), 3);  // one readable node is enough
  EXPECT_EQ(captureDeviceAuthorization(dir + "/missing"), -1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace deskagent::platform::x11
