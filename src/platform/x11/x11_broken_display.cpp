// Apart from the rest of the backend: Xlib's internal header defines macros (min, max and
// others) that must not reach other code.
#include "platform/x11/x11_broken_display.hpp"

#include <X11/Xlibint.h>

namespace deskagent::platform::x11 {

void markDisplayBroken(Display* display) {
  display->flags = display->flags | XlibDisplayIOError;
}

}  // namespace deskagent::platform::x11
