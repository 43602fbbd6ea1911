#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <utility>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_keymap.hpp"

namespace deskagent::platform::x11 {

// Keys lent to the chord's letters where the keyboard map has them in no group (a single "ru"
// layout has no Latin letters, and GTK and Qt then see Control+М, not Control+V): an unused key
// code is mapped to the letter alone, so it types the letter whatever group is in use. The map
// is put back a while after the last chord, long after the application has read the chord with
// the map it came with (a toolkit fetches a changed map when it next handles a key), and at the
// latest when the session ends. Each letter keeps its own key, so a chord still unread never
// changes meaning.
class ScratchKeys {
 public:
  ScratchKeys(Connection& connection, Keymap& keymap, MainLoop& loop)
      : connection_(connection), keymap_(keymap), loop_(loop) {}
  ~ScratchKeys() { putBack(); }
  ScratchKeys(const ScratchKeys&) = delete;
  ScratchKeys& operator=(const ScratchKeys&) = delete;

  // The key that types `letter`: the layout's own, else one lent to it (mapped now if need
  // be); nothing when the layout has none and no key code is free.
  std::optional<KeyCode> keyFor(KeySym letter);
  // Every lent key types nothing again, unless the map has changed under it since.
  void putBack();

 private:
  Connection& connection_;
  Keymap& keymap_;
  MainLoop& loop_;
  std::vector<std::pair<KeySym, KeyCode>> lent_;
  LoopHandle putBackTimer_;
};

}  // namespace deskagent::platform::x11
