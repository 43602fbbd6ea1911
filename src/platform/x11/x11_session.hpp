#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>

#include "loop/main_loop.hpp"
#include "platform/x11/x11_chord.hpp"
#include "platform/x11/x11_clipboard.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_key_watch.hpp"
#include "platform/x11/x11_keymap.hpp"
#include "platform/x11/x11_primary_paste.hpp"
#include "platform/x11/x11_scratch_keys.hpp"
#include "platform/x11/x11_synthetic_keys.hpp"

namespace deskagent::platform::x11 {

// Everything that lives as long as one connection to the server, and the routing of its events.
struct Session {
  Session(std::unique_ptr<Connection> connection, MainLoop& loop, std::int64_t& changeCount,
          KeyWatch::Deliver deliver);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool lost() const { return connection->lost(); }
  void route(XEvent& event);
  // The answers to the reads' requests: whether one has arrived, and taking them in.
  bool replyArrived() { return clipboard.replyArrived() || primary.replyArrived(); }
  void takeReplies() {
    clipboard.takeReply();
    primary.takeReply();
  }

  std::unique_ptr<Connection> connection;
  Keymap keymap;
  ScratchKeys scratchKeys;
  SyntheticKeys synthetic;
  KeyWatch keys;
  ChordPoster chord;
  Clipboard clipboard;
  std::int64_t primaryChangeCount = 0;
  Clipboard primary;  // a terminal's selection
  PrimaryPaste primaryPaste;
  LoopHandle watch;  // dropped first, before anything it would call into
};

}  // namespace deskagent::platform::x11
