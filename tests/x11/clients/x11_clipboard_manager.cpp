// A minimal clipboard manager: it owns CLIPBOARD_MANAGER and, when an owner asks it to
// SAVE_TARGETS, copies every target of CLIPBOARD and becomes its owner. With --reads it also
// reads the text of every new clipboard at once, as history-keeping managers do. Prints "ready"
// once it owns CLIPBOARD_MANAGER, "saved N" after each save and "read HEX" after each read.
//
//   x11_clipboard_manager [--reads] [--pause MS]    MS: a pause before each target it saves, as
//                                                   a busy manager takes

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "client_util.hpp"

using namespace x11_test;

int main(int argc, char** argv) {
  bool reads = false;
  int pauseMs = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--reads") reads = true;
    if (arg == "--pause" && i + 1 < argc) pauseMs = std::atoi(argv[++i]);
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  Atom manager = XInternAtom(display, "CLIPBOARD_MANAGER", False);
  Atom saveTargets = XInternAtom(display, "SAVE_TARGETS", False);
  Atom targetsAtom = XInternAtom(display, "TARGETS", False);
  Atom property = XInternAtom(display, "TEST_MANAGER", False);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XSetSelectionOwner(display, manager, window, CurrentTime);
  int fixesEvent = 0, fixesError = 0;
  if (reads && XFixesQueryExtension(display, &fixesEvent, &fixesError)) {
    XFixesSelectSelectionInput(display, window, clipboard, XFixesSetSelectionOwnerNotifyMask);
  }
  XSync(display, False);
  say("ready");

  std::map<Atom, PropertyValue> saved;
  auto serveSaved = [&](XEvent& e) {
    if (e.type == SelectionRequest && e.xselectionrequest.selection == clipboard) {
      answer(display, e.xselectionrequest, saved);
    }
  };
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (reads && event.type == fixesEvent + XFixesSelectionNotify) {
      const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
      if (notify.owner == None || notify.owner == window) continue;
      auto text =
          convertClipboard(display, window, utf8, property, notify.selection_timestamp, serveSaved);
      say("read " + hex(text ? text->bytes : ""));
      continue;
    }
    serveSaved(event);
    if (event.type != SelectionRequest || event.xselectionrequest.selection == clipboard) continue;
    const XSelectionRequestEvent request = event.xselectionrequest;
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
