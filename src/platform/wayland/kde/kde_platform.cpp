#include "platform/wayland/kde/kde_platform.hpp"

#include <memory>

#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/kde/eis_keyboard.hpp"
#include "platform/wayland/kde/kwin_focus.hpp"
#include "platform/wayland/wayland_platform.hpp"

namespace deskagent::platform::kde {

std::unique_ptr<Platform> connectKdePlatform(MainLoop& loop, std::string* whyNot) {
  // Said by the first connection's parts; a later one's (after a restart) has no one to tell.
  auto why = std::make_shared<std::string>("WAYLAND_DISPLAY names no compositor with data-control");
  auto platform = wayland::connectDesktopPlatform(
      loop,
      [why](wayland::Connection& connection,
            MainLoop& loop) -> std::optional<wayland::DesktopParts> {
        if (connection.dataControl() == nullptr) return std::nullopt;
        std::shared_ptr<dbus::Connection> bus = dbus::Connection::session(loop);
        if (!bus) {
          *why = "no session bus";
          return std::nullopt;
        }
        if (!bus->nameHasOwner("org.kde.KWin")) {
          *why = "KWin is not on the session bus";
          return std::nullopt;
        }
        auto keys = EisKeyboard::connect(loop, *bus, *why);
        if (!keys) return std::nullopt;
        auto focus = std::make_unique<KWinFocus>(*bus);
        return wayland::DesktopParts{bus, std::move(keys), std::move(focus), nullptr};
      });
  if (!platform && whyNot != nullptr) *whyNot = *why;
  return platform;
}

}  // namespace deskagent::platform::kde
