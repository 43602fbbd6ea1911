#pragma once

#include <cstdint>
#include <memory>

#include "loop/main_loop.hpp"
#include "platform/wayland/clipboard_side.hpp"
#include "platform/wayland/focused_application.hpp"
#include "platform/wayland/shortcut_keys.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_clipboard.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_primary_paste.hpp"

namespace deskagent::platform::wayland {

// What a desktop gives in place of a wlroots protocol: where the chords' keys go, what tells the
// focused application, and the clipboard. Each null part is the wlroots one (the virtual
// keyboard; foreign-toplevel's app ids; data-control).
struct DesktopParts {
  // What the others rely on (a bus connection), kept until they are gone.
  std::shared_ptr<void> base;
  std::unique_ptr<KeySink> keys;
  std::unique_ptr<FocusedApplication> focus;
  std::unique_ptr<ClipboardSide> clipboard;
};

// What outlives a session: the clipboard's change count, the desktop entries and XWayland.
struct SessionShared {
  std::int64_t changeCount = 0;
  DesktopEntries desktopEntries;
  XwaylandFocus xwayland;
};

// Everything that lives as long as one connection to a compositor: the focused application's
// source, the keys, the clipboard and, where data-control offers it, the primary selection.
class Session {
 public:
  // `connection` has listed its globals; `parts` holds what the desktop gives of its own.
  Session(std::unique_ptr<Connection> connection, MainLoop& loop, SessionShared& shared,
          DesktopParts parts);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  KeySink& keys() { return *parts.keys; }
  FocusedApplication& focus() { return *parts.focus; }
  ClipboardSide& clipboard() { return *parts.clipboard; }

  // In this order: each is made (and outlived) by those before it.
  std::unique_ptr<Connection> connection;
  std::unique_ptr<ShortcutKeymap> keymap;
  DesktopParts parts;
  std::unique_ptr<ChordPoster> chord;
  // Where the compositor offers it through data-control.
  std::int64_t primaryChangeCount = 0;
  std::unique_ptr<Clipboard> primary;
  std::unique_ptr<PrimaryPaste> primaryPaste;
  LoopHandle watch;
};

}  // namespace deskagent::platform::wayland
