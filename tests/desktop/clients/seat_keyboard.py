"""Gives headless mutter's seat a keyboard, as every desktop has one: a remote-desktop session of
the test's own whose virtual keyboard is made by one key tap before any window opens, and kept
while this runs. (A seat without a keyboard gains one with the first key of the agent's session,
and the focused window, binding its keyboard only then, misses that key and those right after.)
Prints "keyboard" when it is there."""
from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
service, interface = "org.gnome.Mutter.RemoteDesktop", "org.gnome.Mutter.RemoteDesktop.Session"


def call(path, iface, method, args=None):
    return bus.call_sync(service, path, iface, method, args, None, 0, 5000, None)


session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession").unpack()[0]
call(session, interface, "Start")
for pressed in (True, False):
    call(session, interface, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (97, pressed)))  # Right Ctrl
print("keyboard", flush=True)
GLib.MainLoop().run()  # until the session ends
