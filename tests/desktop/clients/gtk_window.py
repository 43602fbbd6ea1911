"""A GTK 4 text view for the GNOME tests: one window that takes the keyboard focus and prints, one
line each, what reaches it:
  ready                  shown
  focus in | focus out   it gained or lost the keyboard focus
  key <name> <ctrl> <shift>  a key press, with whether Control and Shift were held
  text: <JSON string>    its text, each time it changes (a paste arrives here)
  copied                 it took the clipboard (after "copy" on its input)
Arguments: its text, selected whole at the start (empty: nothing selected); its app id.
On its input, "copy" makes it the clipboard's owner with the user's content of several types.
"""
import json
import sys

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("Gdk", "4.0")
from gi.repository import Gdk, Gio, GLib, Gtk  # noqa: E402

# The user's content: text, markup and application data that is not text.
USERS_CONTENT = {
    "text/plain;charset=utf-8": "the user's own ✓".encode(),
    "text/html": b"<b>the user's own</b>",
    "application/x-deskagent-test": b"\x00\x01\xfe\xff",
}


def say(*words):
    print(*words, flush=True)


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="deskagent test window")
    view = Gtk.TextView()
    text = view.get_buffer()
    text.set_text(sys.argv[1])
    text.select_range(text.get_start_iter(), text.get_end_iter())
    text.connect("changed", lambda t: say("text:", json.dumps(t.get_text(
        t.get_start_iter(), t.get_end_iter(), True), ensure_ascii=False)))

    keys = Gtk.EventControllerKey(propagation_phase=Gtk.PropagationPhase.CAPTURE)
    held = Gdk.ModifierType

    def pressed(_controller, keyval, _code, state):
        say("key", Gdk.keyval_name(keyval), int(bool(state & held.CONTROL_MASK)),
            int(bool(state & held.SHIFT_MASK)))
        return False  # the view still gets it

    keys.connect("key-pressed", pressed)
    view.add_controller(keys)
    focus = Gtk.EventControllerFocus()
    focus.connect("enter", lambda _c: say("focus in"))
    focus.connect("leave", lambda _c: say("focus out"))
    view.add_controller(focus)

    def command(channel, _condition):
        if channel.readline().strip() == "copy":
            view.get_clipboard().set_content(Gdk.ContentProvider.new_union(
                [Gdk.ContentProvider.new_for_bytes(kind, GLib.Bytes.new(data))
                 for kind, data in USERS_CONTENT.items()]))
            say("copied")
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN, command)
    window.set_child(view)
    window.present()
    view.grab_focus()
    say("ready")


app = Gtk.Application(application_id=sys.argv[2], flags=Gio.ApplicationFlags.NON_UNIQUE)
app.connect("activate", activate)
app.run([])
