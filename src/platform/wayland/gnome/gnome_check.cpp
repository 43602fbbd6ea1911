#include "platform/wayland/gnome/gnome_check.hpp"

#include <chrono>
#include <cstdlib>

#include "platform/linux/dbus/accessibility_focus.hpp"
#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/gnome/mutter_clipboard.hpp"
#include "platform/wayland/gnome/mutter_remote_desktop.hpp"

namespace deskagent::platform::gnome {

namespace {

constexpr std::uint32_t kKeyboardDevice = 1;  // SupportedDeviceTypes

}  // namespace

BackendDescription describeGnomeBackend(MainLoop& loop) {
  BackendDescription d{"GNOME (mutter's remote-desktop API)", false, false, {}};
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') {
    d.detail = "not a Wayland session (WAYLAND_DISPLAY is not set)";
    return d;
  }
  auto bus = dbus::Connection::session(loop);
  if (!bus) {
    d.detail = "no session bus at " + dbus::sessionBusDescription();
    return d;
  }
  if (!bus->nameHasOwner(kRemoteDesktopService)) {
    d.detail = std::string(kRemoteDesktopService) + " is not on the session bus (not GNOME)";
    return d;
  }
  d.present = true;
  auto get = bus->methodCall(kRemoteDesktopService, kRemoteDesktopPath,
                             "org.freedesktop.DBus.Properties", "Get");
  if (get) sd_bus_message_append(get.get(), "ss", kRemoteDesktopInterface, "SupportedDeviceTypes");
  dbus::CallError error;
  auto types = bus->call(get, std::chrono::seconds(1), &error);
  std::uint32_t devices = 0;
  if (!types || sd_bus_message_read(types.get(), "v", "u", &devices) < 0 ||
      (devices & kKeyboardDevice) == 0) {
    d.detail =
        "mutter offers no keyboard" + (types ? std::string() : " (" + error.describe() + ")");
    return d;
  }
  if (!MutterClipboard::create(loop, *bus, error)) {
    d.detail = "mutter refused a remote-desktop session: " + error.describe();
    return d;
  }
  d.usable = true;
  dbus::AccessibilityFocus focus(loop, *bus);
  auto focused = focus.focused();
  d.detail = "mutter gives sessions; the focused application " +
             (focused ? "is known from the accessibility bus: " +
                            (focused->application.empty() ? "(unnamed)" : focused->application) +
                            (focused->terminal ? ", a terminal" : "")
                      : std::string("is not shown on the accessibility bus: no copy chord "
                                    "is sent, a paste sends Control+V"));
  return d;
}

}  // namespace deskagent::platform::gnome
