#pragma once

// Small pieces the X test clients share: bounded waits and selection reads, written plainly
// (no INCR on the receiving side; the tests keep the texts these clients read small).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hex.hpp"

namespace x11_test {

inline std::optional<XEvent> waitForEvent(Display* display,
                                          const std::function<bool(const XEvent&)>& match,
                                          std::chrono::milliseconds timeout,
                                          const std::function<void(XEvent&)>& other = {}) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  XFlush(display);
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (match(event)) return event;
      if (other) other(event);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    poll(&p, 1, static_cast<int>(left.count()));
  }
}

struct PropertyValue {
  Atom type = None;
  int format = 0;
  std::string bytes;  // format 32 as the longs Xlib gives
};

inline std::optional<PropertyValue> readProperty(Display* display, Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1 << 24, True, AnyPropertyType, &type,
                         &format, &count, &after, &data) != Success ||
      type == None) {
    if (data != nullptr) XFree(data);
    return std::nullopt;
  }
  std::size_t unit = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
  PropertyValue value{type, format, std::string(reinterpret_cast<const char*>(data), count * unit)};
  XFree(data);
  return value;
}

// Converts CLIPBOARD to `target` into `property` on `window` and reads the answer.
inline std::optional<PropertyValue> convertClipboard(Display* display, Window window, Atom target,
                                                     Atom property, Time time,
                                                     const std::function<void(XEvent&)>& other) {
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  XConvertSelection(display, clipboard, target, property, window, time);
  auto notify = waitForEvent(
      display,
      [&](const XEvent& e) {
        return e.type == SelectionNotify && e.xselection.requestor == window &&
               e.xselection.target == target;
      },
      std::chrono::milliseconds(2000), other);
  if (!notify || notify->xselection.property == None) return std::nullopt;
  return readProperty(display, window, notify->xselection.property);
}

// Tells the requestor its conversion is done; `property` None: refused.
inline void notify(Display* display, const XSelectionRequestEvent& request, Atom property) {
  XEvent event{};
  event.xselection.type = SelectionNotify;
  event.xselection.requestor = request.requestor;
  event.xselection.selection = request.selection;
  event.xselection.target = request.target;
  event.xselection.time = request.time;
  event.xselection.property = property;
  XSendEvent(display, request.requestor, False, NoEventMask, &event);
  XFlush(display);
}

// Answers a request for a selection this client owns with what it `offers` (target -> value,
// listed by TARGETS), refusing any other target.
inline void answer(Display* display, const XSelectionRequestEvent& request,
                   const std::map<Atom, PropertyValue>& offers) {
  Atom targets = XInternAtom(display, "TARGETS", False);
  auto offer = offers.find(request.target);
  if (request.target == targets) {
    std::vector<Atom> list{targets};
    for (const auto& [target, value] : offers) list.push_back(target);
    XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
  } else if (offer != offers.end()) {
    const std::string& bytes = offer->second.bytes;
    XChangeProperty(display, request.requestor, request.property, offer->second.type, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()));
  }
  notify(display, request,
         request.target == targets || offer != offers.end() ? request.property : None);
}

inline void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace x11_test
