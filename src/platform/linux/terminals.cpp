#include "platform/linux/terminals.hpp"

#include <algorithm>
#include <cctype>

namespace deskagent::platform {
namespace {

// The one list of terminal emulators, by the WM_CLASS names and Wayland app ids they set (lower
// case; either the instance or the class name may match), with their default paste binding.
struct KnownTerminal {
  std::string_view name;
  TerminalKind kind;
};

constexpr auto P = TerminalKind::primaryOnly;
constexpr auto C = TerminalKind::clipboardKeys;

constexpr KnownTerminal kTerminals[] = {
    // xterm(1), DEFAULT KEY BINDINGS: Shift+Insert is insert-selection(SELECT, CUT_BUFFER0), and
    // nothing pastes CLIPBOARD unless the user adds a translation. lxterm and koi8rxterm are
    // xterm under other names.
    {"xterm", P},
    {"uxterm", P},
    {"lxterm", P},
    {"koi8rxterm", P},
    // urxvt(1), and rxvt(1) before it: Shift+Insert pastes PRIMARY; Control+Shift+V pastes
    // nothing unless the user binds it (a keysym resource or a perl extension).
    {"urxvt", P},
    {"rxvt", P},
    {"rxvt-unicode", P},
    {"urxvt-unicode", P},
    // Eterm(1) and aterm(1), rxvt's descendants: Shift+Insert, no clipboard paste key.
    {"eterm", P},
    {"aterm", P},
    // Not terminals, but their keys are a terminal's: in Vim, Control+V inserts the next key
    // literally and Control+C leaves Insert mode (:help i_CTRL-V, i_CTRL-C), and gvim's
    // Shift+Insert pastes the selection; in Emacs, C-v scrolls and C-c is a prefix that takes the
    // user's next key, and Shift+Insert yanks.
    {"gvim", P},
    {"emacs", P},
    // The rest paste CLIPBOARD on Control+Shift+V and copy on Control+Shift+C by default (their
    // manuals and default configurations: st's config.def.h binds TERMMOD+V/C, the VTE, Qt and
    // GPU terminals their Edit menus' shortcuts).
    {"gnome-terminal", C},
    {"gnome-terminal-server", C},
    {"org.gnome.terminal", C},
    {"kgx", C},
    {"org.gnome.console", C},
    {"ptyxis", C},
    {"org.gnome.ptyxis", C},
    {"konsole", C},
    {"org.kde.konsole", C},
    {"yakuake", C},
    {"xfce4-terminal", C},
    {"tilix", C},
    {"com.gexperts.tilix", C},
    {"terminator", C},
    {"alacritty", C},
    {"kitty", C},
    {"wezterm", C},
    {"org.wezfurlong.wezterm", C},
    {"foot", C},
    {"footclient", C},
    {"st", C},
    {"st-256color", C},
    {"stterm", C},
    {"lxterminal", C},
    {"mate-terminal", C},
    {"qterminal", C},
    {"terminology", C},
    {"sakura", C},
    {"guake", C},
    {"tilda", C},
    {"cool-retro-term", C},
    {"deepin-terminal", C},
    {"termite", C},
    {"contour", C},
    {"ghostty", C},
    {"com.mitchellh.ghostty", C},
    // weston-terminal binds Control+Shift+V and Control+Shift+C, and takes Shift+Insert for a key;
    // it installs no desktop entry to be known by.
    {"org.freedesktop.weston.wayland-terminal", C},
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

TerminalKind kindOfName(std::string_view name) {
  for (const KnownTerminal& known : kTerminals) {
    if (equalsIgnoringCase(name, known.name)) return known.kind;
  }
  return TerminalKind::none;
}

}  // namespace

TerminalKind terminalKindOfClass(std::string_view instanceName, std::string_view className) {
  TerminalKind kind = kindOfName(instanceName);
  return kind != TerminalKind::none ? kind : kindOfName(className);
}

}  // namespace deskagent::platform
