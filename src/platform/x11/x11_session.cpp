#include "platform/x11/x11_session.hpp"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>

namespace deskagent::platform::x11 {

Session::Session(std::unique_ptr<Connection> c, MainLoop& loop, std::int64_t& changeCount,
                 KeyWatch::Deliver deliver)
    : connection(std::move(c)),
      keymap(connection->display()),
      scratchKeys(*connection, keymap, loop),
      keys(*connection, keymap, synthetic, std::move(deliver)),
      chord(*connection, keymap, scratchKeys, synthetic, primaryPaste),
      clipboard(*connection, loop, connection->atoms().clipboard, changeCount, chord.target()),
      primary(*connection, loop, XA_PRIMARY, primaryChangeCount, chord.target()),
      primaryPaste(clipboard, primary) {
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
  if (!clipboard.handle(event)) primary.handle(event);
}

}  // namespace deskagent::platform::x11
