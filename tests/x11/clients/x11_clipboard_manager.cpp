// A minimal clipboard manager, as far as the agent's exit needs one: it owns CLIPBOARD_MANAGER
// and, when an owner asks it to SAVE_TARGETS, copies every target of CLIPBOARD and becomes its
// owner. Prints "ready" once it owns CLIPBOARD_MANAGER and "saved N" after each save.
//
//   x11_clipboard_manager [--pause MS]    MS: a pause before each read, as a busy manager takes

#include <X11/Xatom.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "client_util.hpp"

using namespace x11_test;

int main(int argc, char** argv) {
  int pauseMs = argc == 3 && std::string(argv[1]) == "--pause" ? std::atoi(argv[2]) : 0;
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
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != SelectionRequest) continue;
    const XSelectionRequestEvent request = event.xselectionrequest;
    if (request.selection == clipboard) {
      answer(display, request, saved);
      continue;
    }
    if (request.selection != manager || request.target != saveTargets) {
      notify(display, request, None);
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
        usleep(static_cast<useconds_t>(pauseMs) * 1000);
        auto value = convertClipboard(display, window, target, property, CurrentTime, ignore);
        if (value && value->format == 8) copy[target] = *value;
      }
    }
    saved = std::move(copy);
    XSetSelectionOwner(display, clipboard, window, CurrentTime);
    notify(display, request, request.property);
    XSync(display, False);
    say("saved " + std::to_string(saved.size()));
  }
}
