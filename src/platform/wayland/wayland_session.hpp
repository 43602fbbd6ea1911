#pragma once

#include <cstdint>
#include <memory>

#include "loop/main_loop.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_clipboard.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_primary_paste.hpp"
#include "platform/wayland/wayland_toplevels.hpp"

namespace deskagent::platform::wayland {

// Everything that lives as long as one connection to a compositor that offers the protocols:
// the windows it tells of, the virtual keyboard, the clipboard and the primary selection.
struct Session {
  // `connection` has listed its globals and is usable. `changeCount` is the clipboard's, kept
  // across sessions.
  Session(std::unique_ptr<Connection> connection, MainLoop& loop, std::int64_t& changeCount)
      : connection(std::move(connection)),
        toplevels(*this->connection),
        chord(*this->connection),
        clipboard(*this->connection, loop, chord.chords(), changeCount) {
    if (!this->connection->hasPrimarySelection()) return;
    primary = std::make_unique<Clipboard>(*this->connection, loop, chord.chords(),
                                          primaryChangeCount, Selection::primary);
    primaryPaste = std::make_unique<PrimaryPaste>(*primary);
  }

  std::unique_ptr<Connection> connection;
  Toplevels toplevels;
  ChordPoster chord;
  Clipboard clipboard;
  // Where the compositor offers it.
  std::int64_t primaryChangeCount = 0;
  std::unique_ptr<Clipboard> primary;
  std::unique_ptr<PrimaryPaste> primaryPaste;
  LoopHandle watch;
};

}  // namespace deskagent::platform::wayland
