#include "platform/x11/x11_chord.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>

#include "platform/platform.hpp"
#include "platform/x11/x11_keys.hpp"
#include "platform/x11/x11_terminals.hpp"

namespace deskagent::platform::x11 {
namespace {

constexpr int kMaxWindowDepth = 32;

std::optional<Window> activeWindow(Connection& c) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(c.display(), c.root(), c.atoms().netActiveWindow, 0, 1, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) != Success) {
    return std::nullopt;
  }
  std::optional<Window> window;
  if (data != nullptr && type == XA_WINDOW && format == 32 && count == 1) {
    Window w = *reinterpret_cast<unsigned long*>(data);
    if (w != None) window = w;
  }
  if (data != nullptr) XFree(data);
  return window;
}

// Whether `window` carries WM_CLASS, and if so whether it is a terminal's.
std::optional<bool> terminalClassOf(Display* display, Window window) {
  XClassHint hint{};
  if (XGetClassHint(display, window, &hint)) {
    bool terminal = isTerminalWindowClass(hint.res_name ? hint.res_name : "",
                                          hint.res_class ? hint.res_class : "");
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return terminal;
  }
  return std::nullopt;
}

}  // namespace

void ChordPoster::fake(KeyCode keycode, bool down) {
  synthetic_.sent(keycode, down);
  XTestFakeKeyEvent(connection_.display(), keycode, down ? True : False, CurrentTime);
}

std::vector<KeyCode> ChordPoster::heldDisturbingKeys() {
  std::array<char, 32> keys{};
  XQueryKeymap(connection_.display(), keys.data());
  std::vector<KeyCode> held;
  for (unsigned keycode = 8; keycode < 256; ++keycode) {
    if ((keys[keycode / 8] >> (keycode % 8)) & 1 && keymap_.isChordDisturbing(keycode)) {
      held.push_back(static_cast<KeyCode>(keycode));
    }
  }
  return held;
}

ChordPoster::Focus ChordPoster::focusedWindow() {
  Display* display = connection_.display();
  // The window manager's word first; without one, the input focus.
  Window window = None;
  if (auto active = activeWindow(connection_)) {
    window = *active;
  } else {
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
  }
  if (window == None || window == PointerRoot) return {};

  // Up from the focus to the top-level window that carries WM_CLASS: the application's own.
  Window current = window;
  for (int depth = 0; depth < kMaxWindowDepth && current != None; ++depth) {
    if (auto terminal = terminalClassOf(display, current)) return {current, *terminal};
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, current, &root, &parent, &children, &count)) break;
    if (depth == 0) {
      // A focused frame window (the window manager's): its client is below it.
      for (unsigned i = 0; i < count; ++i) {
        if (auto terminal = terminalClassOf(display, children[i])) {
          Focus focus{children[i], *terminal};
          XFree(children);
          return focus;
        }
      }
    }
    if (children != nullptr) XFree(children);
    if (parent == root) break;
    current = parent;
  }
  return {window, false};
}

void ChordPoster::press(KeyCode key, std::uint64_t flags) {
  Focus focus = focusedWindow();
  target_.window = focus.window;
  ++target_.chords;
  std::vector<KeySym> modifiers;
  if (flags & (kFlagCommand | kFlagControl)) modifiers.push_back(XK_Control_L);
  if (flags & kFlagAlternate) modifiers.push_back(XK_Alt_L);
  if ((flags & kFlagShift) || ((flags & kFlagCommand) && focus.terminal)) {
    modifiers.push_back(XK_Shift_L);
  }
  releasedUserKeys_ = heldDisturbingKeys();
  for (KeyCode held : releasedUserKeys_) fake(held, false);
  for (KeySym modifier : modifiers) {
    if (auto keycode = keymap_.keycodeForKeysym(modifier)) {
      fake(*keycode, true);
      pressedModifiers_.push_back(*keycode);
    }
  }
  fake(key, true);
  pressedKey_ = key;
}

void ChordPoster::release(KeyCode key) {
  fake(key, false);
  for (auto it = pressedModifiers_.rbegin(); it != pressedModifiers_.rend(); ++it) fake(*it, false);
  for (KeyCode held : releasedUserKeys_) fake(held, true);
  pressedKey_.reset();
  pressedModifiers_.clear();
  releasedUserKeys_.clear();
}

void ChordPoster::post(std::uint16_t macKeyCode, bool down, std::uint64_t flags) {
  if (connection_.lost() || !connection_.extensions().xtest) return;
  auto letter = letterKeyForMacKeyCode(macKeyCode);
  if (!letter) return;
  KeyCode key =
      keymap_.keycodeForKeysym(letter->keysym).value_or(static_cast<KeyCode>(letter->ansiKeycode));
  if (down) {
    if (pressedKey_) release(*pressedKey_);  // a chord whose release never came
    press(key, flags);
  } else {
    release(pressedKey_.value_or(key));
  }
  XFlush(connection_.display());
}

}  // namespace deskagent::platform::x11
