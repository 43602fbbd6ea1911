#include "platform/x11/x11_terminals.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace deskagent::platform::x11 {
namespace {

// The one list of terminal emulators, by the WM_CLASS names they set (lower case; either the
// instance or the class name may match).
constexpr std::array<std::string_view, 44> kTerminalClasses{
    "xterm",
    "uxterm",
    "urxvt",
    "rxvt",
    "rxvt-unicode",
    "urxvt-unicode",
    "gnome-terminal",
    "gnome-terminal-server",
    "org.gnome.terminal",
    "kgx",
    "org.gnome.console",
    "ptyxis",
    "org.gnome.ptyxis",
    "konsole",
    "org.kde.konsole",
    "yakuake",
    "xfce4-terminal",
    "tilix",
    "com.gexperts.tilix",
    "terminator",
    "alacritty",
    "kitty",
    "wezterm",
    "org.wezfurlong.wezterm",
    "foot",
    "footclient",
    "st",
    "st-256color",
    "stterm",
    "lxterminal",
    "mate-terminal",
    "qterminal",
    "terminology",
    "sakura",
    "guake",
    "tilda",
    "cool-retro-term",
    "deepin-terminal",
    "eterm",
    "aterm",
    "termite",
    "contour",
    "ghostty",
    "com.mitchellh.ghostty",
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool isTerminalName(std::string_view name) {
  return std::any_of(kTerminalClasses.begin(), kTerminalClasses.end(),
                     [&](std::string_view known) { return equalsIgnoringCase(name, known); });
}

}  // namespace

bool isTerminalWindowClass(std::string_view instanceName, std::string_view className) {
  return isTerminalName(instanceName) || isTerminalName(className);
}

}  // namespace deskagent::platform::x11
