"""A GTK application copying a 3840x2160 image as GTK applications do (gtk_clipboard_set_image:
GTK then offers it in every format gdk-pixbuf can write, made when asked). Prints "copied",
then serves it until killed."""

import random

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib, Gtk  # noqa: E402


def photo_like(width, height):
    # Gradients with a photo's grain: rows from a pool of noisy ones, far enough apart that a
    # PNG encoder finds little to repeat, as in a photo.
    grain = random.Random(4096)
    pool = []
    for i in range(64):
        noise = grain.randbytes(width * 3)
        pool.append(bytes((((x // 3) * 255 // width + i) ^ (noise[x] & 15)) & 255
                          for x in range(width * 3)))
    rows = bytearray()
    for y in range(height):
        rows += pool[(y * 37) % 64]
    return GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(bytes(rows)), GdkPixbuf.Colorspace.RGB,
                                           False, 8, width, height, width * 3)


Gtk.init()
clipboard = Gtk.Clipboard.get_default(Gtk.Window().get_display())
clipboard.set_image(photo_like(3840, 2160))
print("copied", flush=True)
Gtk.main()
