#pragma once

namespace deskagent::platform::dbus {

// Whether systemd's libsystemd.so.0, which serves the sd-bus calls, could be loaded. It is looked
// up when first needed rather than linked, so that one binary also starts on a system without
// it (its X11 and wlroots backends need no D-Bus); there every sd-bus call fails with -ENOSYS.
bool sdBusAvailable();

}  // namespace deskagent::platform::dbus
