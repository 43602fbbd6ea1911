// A minimal clipboard manager, as far as the agent's exit needs one: it owns CLIPBOARD_MANAGER
// and, when an owner asks it to SAVE_TARGETS, copies every target of CLIPBOARD and becomes its
// owner. Prints "ready" once it owns CLIPBOARD_MANAGER and "saved N" after each save.

#include <X11/Xatom.h>

#include <map>
#include <string>
#include <vector>

#include "client_util.hpp"

using namespace x11_test;

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  Atom manager = XInternAtom(display, "CLIPBOARD_MANAGER", False);
  Atom saveTargets = XInternAtom(display, "SAVE_TARGETS", False);
  Atom targetsAtom = XInternAtom(display, "TARGETS", False);
  Atom property = XInternAtom(display, "TEST_MANAGER", False);
  XSetSelectionOwner(display, manager, window, CurrentTime);
  XSync(display, False);
  say("ready");

  std::map<Atom, PropertyValue> saved;
  auto serve = [&](const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    if (request.selection == clipboard && request.target == targetsAtom) {
      std::vector<Atom> list{targetsAtom};
      for (auto& [target, value] : saved) list.push_back(target);
      XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
      reply.property = request.property;
    } else if (request.selection == clipboard && saved.count(request.target)) {
      const PropertyValue& value = saved[request.target];
      XChangeProperty(display, request.requestor, request.property, value.type, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(value.bytes.data()),
                      static_cast<int>(value.bytes.size()));
      reply.property = request.property;
    }
    XEvent event{};
    event.xselection = reply;
    XSendEvent(display, request.requestor, False, NoEventMask, &event);
    XFlush(display);
  };

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != SelectionRequest) continue;
    const XSelectionRequestEvent request = event.xselectionrequest;
    if (request.selection != manager || request.target != saveTargets) {
      serve(request);
      continue;
    }
    auto ignore = [](XEvent&) {};
    std::map<Atom, PropertyValue> copy;
    if (auto list = convertClipboard(display, window, targetsAtom, property, CurrentTime, ignore)) {
      const auto* atoms = reinterpret_cast<const long*>(list->bytes.data());
      std::size_t count = list->bytes.size() / sizeof(long);
      for (std::size_t i = 0; i < count; ++i) {
        Atom target = static_cast<Atom>(atoms[i]);
        char* name = XGetAtomName(display, target);
        std::string n = name != nullptr ? name : "";
        if (name != nullptr) XFree(name);
        if (n == "TARGETS" || n == "MULTIPLE" || n == "TIMESTAMP" || n == "SAVE_TARGETS") continue;
        auto value = convertClipboard(display, window, target, property, CurrentTime, ignore);
        if (value && value->format == 8) copy[target] = *value;
      }
    }
    saved = std::move(copy);
    XSetSelectionOwner(display, clipboard, window, CurrentTime);
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.requestor = request.requestor;
    reply.selection = manager;
    reply.target = saveTargets;
    reply.time = request.time;
    reply.property = request.property;
    XEvent replyEvent{};
    replyEvent.xselection = reply;
    XSendEvent(display, request.requestor, False, NoEventMask, &replyEvent);
    XSync(display, False);
    say("saved " + std::to_string(saved.size()));
  }
}
