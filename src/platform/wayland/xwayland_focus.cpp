#include "platform/wayland/xwayland_focus.hpp"

#ifdef DESKAGENT_HAVE_X11
#include <X11/Xatom.h>

#include <thread>

#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_focus.hpp"
#endif

namespace deskagent::platform::wayland {

#ifdef DESKAGENT_HAVE_X11

namespace {

// A server that is not there is looked for again no more often than this.
constexpr auto kReconnectInterval = std::chrono::seconds(1);
// The bridge takes a selection over within milliseconds; one that has not by then never will.
constexpr auto kBridgeWait = std::chrono::milliseconds(250);
constexpr auto kBridgePoll = std::chrono::milliseconds(2);

}  // namespace

XwaylandFocus::XwaylandFocus() = default;
XwaylandFocus::~XwaylandFocus() = default;

x11::Connection* XwaylandFocus::connection() {
  if (connection_ && !connection_->serverGone()) return connection_.get();
  connection_.reset();
  auto now = std::chrono::steady_clock::now();
  if (lastAttempt_ && now - *lastAttempt_ < kReconnectInterval) return nullptr;
  lastAttempt_ = now;
  connection_ = x11::Connection::open();
  return connection_.get();
}

// The compositor names the X11 window it has given the focus (_NET_ACTIVE_WINDOW) and clears it
// when a Wayland window has it; X11's own input focus and pointer say nothing then.
std::optional<x11::FocusedWindow> XwaylandFocus::focused() {
  x11::Connection* c = connection();
  if (c == nullptr || !x11::activeWindow(*c)) return std::nullopt;
  x11::FocusedWindow window = x11::focusedWindow(*c);
  if (window.window == None || c->lost()) return std::nullopt;
  return window;
}

std::optional<TerminalKind> XwaylandFocus::focusedKind() {
  auto window = focused();
  return window ? std::optional(window->terminal) : std::nullopt;
}

bool XwaylandFocus::focusedOwnsPrimary() {
  auto window = focused();
  return window && connection_->sameClient(XGetSelectionOwner(connection_->display(), XA_PRIMARY),
                                           window->window);
}

void XwaylandFocus::awaitSelectionsLeaveFocused(bool primary) {
  if (!connection_ && !primary) return;
  auto window = focused();
  if (!window) return;
  Display* display = connection_->display();
  auto heldByWindow = [&] {
    for (Atom selection : {connection_->atoms().clipboard, Atom{XA_PRIMARY}}) {
      if (selection == XA_PRIMARY && !primary) continue;
      if (connection_->sameClient(XGetSelectionOwner(display, selection), window->window)) {
        return true;
      }
    }
    return false;
  };
  const auto until = std::chrono::steady_clock::now() + kBridgeWait;
  while (heldByWindow() && !connection_->lost() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(kBridgePoll);
  }
}

#else

}  // namespace deskagent::platform::wayland

namespace deskagent::platform::x11 {
// Never made: there is no X11 backend to reach a server with.
class Connection {};
struct FocusedWindow {};
}  // namespace deskagent::platform::x11

namespace deskagent::platform::wayland {

XwaylandFocus::XwaylandFocus() = default;
XwaylandFocus::~XwaylandFocus() = default;
std::optional<x11::FocusedWindow> XwaylandFocus::focused() {
  return std::nullopt;
}
std::optional<TerminalKind> XwaylandFocus::focusedKind() {
  return std::nullopt;
}
bool XwaylandFocus::focusedOwnsPrimary() {
  return false;
}
void XwaylandFocus::awaitSelectionsLeaveFocused(bool) {}

#endif

}  // namespace deskagent::platform::wayland
