#pragma once

#include <X11/Xlib.h>

namespace deskagent::platform::x11 {

// Marks `display`'s connection broken, as Xlib marks it when it meets the loss itself: Xlib then
// sends nothing more on it, and XCloseDisplay only frees what the display holds. For a loss we
// find before Xlib does, so that no Xlib call ever runs into it (Xlib's own handling of the loss
// leaves the display's lock in an undefined state).
void markDisplayBroken(Display* display);

}  // namespace deskagent::platform::x11
