#pragma once

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/pasteboard.hpp"

namespace deskagent::platform::x11 {

using SteadyTime = std::chrono::steady_clock::time_point;

// The atoms the backend speaks, interned in one round trip per connection.
struct Atoms {
  Atom clipboard;
  Atom clipboardManager;
  Atom saveTargets;
  Atom targets;
  Atom multiple;
  Atom timestamp;
  Atom incr;
  Atom atomPair;
  Atom utf8String;
  Atom text;
  Atom textPlain;
  Atom textPlainUtf8;
  Atom compoundText;
  Atom passwordManagerHint;
  Atom copyqHidden;
  Atom copyqSecret;
  Atom transferMarker;  // an agent's dictated text
  Atom netActiveWindow;
  Atom transferProperty;     // where owners put what we asked them for
  Atom timestampProperty;    // appended to for a server timestamp
  Atom saveTargetsProperty;  // the targets we ask a clipboard manager to keep
};

// What the server offers, looked up once per connection so permission probes stay cheap.
struct Extensions {
  bool xtest = false;
  int xinputOpcode = -1;  // XInput 2.2 or later; -1 without
  bool xfixes = false;
  int xfixesEventBase = 0;
  bool xkb = false;
  int xkbEventBase = 0;
  bool xres = false;  // X-Resource 1.2 or later: the process behind a client
};

// One connection to the X server and the hidden window the agent owns selections with. Every call
// belongs to the main loop's thread. A server that goes away never ends the process: the
// connection turns "lost" and every later call on it is a harmless no-op.
class Connection {
 public:
  // Connects to the display named by DISPLAY; null when there is none or it refuses us.
  static std::unique_ptr<Connection> open();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return display_; }
  Window root() const { return root_; }
  Window window() const { return window_; }
  int fd() const { return ConnectionNumber(display_); }
  // The same connection's XCB side, for requests whose replies are taken as they arrive.
  xcb_connection_t* xcb() const { return xcb_; }
  const Atoms& atoms() const { return atoms_; }
  const Extensions& extensions() const { return extensions_; }

  // Whether two resources (windows) belong to the same application. An application may speak
  // to the server over more than one connection (Alacritty owns its selections and reads the
  // clipboard through a second one), so the server's X-Resource extension is asked for the
  // process behind each. Where it cannot say (the extension missing, a client on another host),
  // the connection decides: the server gives each client a base of its own, in the bits outside
  // the resource-ID mask it announces to everyone. A clipboard manager is another application.
  bool sameClient(XID a, XID b);

  bool lost() const { return lost_; }
  // Whether the server has gone, found without calling Xlib (a closed or failed socket); marks
  // the connection lost if so. Asked before each call that would read from the server.
  bool serverGone();
  // Called once when the server is found gone, from inside whichever Xlib call found it: it may
  // only take note (post to the loop), never use the connection.
  void setLostHandler(std::function<void()> onLost) { onLost_ = std::move(onLost); }

  // Receives every event that no waitForEvent() takes.
  void setEventHandler(std::function<void(XEvent&)> handler) { handler_ = std::move(handler); }

  // Reads what the server has sent and handles it, without blocking.
  void dispatchPending();
  // Events already read and not yet handled (Xlib reads them during other calls).
  bool hasQueuedEvents() const;
  // Waits until `deadline` for an event that `match` accepts and returns it; every other event
  // is handled meanwhile, so the agent keeps serving its selection while it waits. Only for the
  // hand-over at exit, once the loop has finished: nothing else may wait here.
  std::optional<XEvent> waitForEvent(const std::function<bool(const XEvent&)>& match,
                                     SteadyTime deadline);

  // The first X error that `requests` cause, or 0. Costs a round trip.
  int firstErrorOf(const std::function<void()>& requests);

  // The server's time now, from a zero-length property append (ICCCM 2.1); CurrentTime when the
  // server has gone.
  Time serverTime();

  std::string atomName(Atom atom);
  Atom intern(const std::string& name);

 private:
  Connection() = default;
  void markLost();
  void dispatch(XEvent& event);
  static void onIOErrorExit(Display*, void* self);

  Display* display_ = nullptr;
  xcb_connection_t* xcb_ = nullptr;
  Window root_ = None;
  Window window_ = None;
  Atoms atoms_{};
  Extensions extensions_{};
  XID resourceMask_ = 0;
  bool lost_ = false;
  std::function<void()> onLost_;
  std::function<void(XEvent&)> handler_;
};

}  // namespace deskagent::platform::x11
