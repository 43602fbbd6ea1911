#include "platform/x11/x11_session.hpp"

#include <X11/XKBlib.h>

namespace deskagent::platform::x11 {

Session::Session(std::unique_ptr<Connection> c, MainLoop& loop, std::int64_t& changeCount,
                 KeyWatch::Deliver deliver)
    : connection(std::move(c)),
      keymap(connection->display()),
      keys(*connection, keymap, synthetic, std::move(deliver)),
      chord(*connection, keymap, synthetic),
      clipboard(*connection, loop, connection->atoms().clipboard, changeCount, chord.target()) {
  connection->setEventHandler([this](XEvent& event) { route(event); });
}

void Session::route(XEvent& event) {
  const Extensions& ext = connection->extensions();
  if (event.type == MappingNotify) {
    XRefreshKeyboardMapping(&event.xmapping);
    keymap.invalidate();
    return;
  }
  if (ext.xkb && event.type == ext.xkbEventBase) {
    int kind = reinterpret_cast<const XkbEvent&>(event).any.xkb_type;
    if (kind == XkbNewKeyboardNotify || kind == XkbMapNotify) keymap.invalidate();
    return;
  }
  if (keys.handle(event)) return;
  clipboard.handle(event);
}

}  // namespace deskagent::platform::x11
