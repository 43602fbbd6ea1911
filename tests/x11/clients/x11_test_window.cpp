// A focused window standing in for the application the agent types into. It prints one line
// per event the tests look at:
//
//   ready                          mapped and holding the input focus
//   key NAME STATE                 every key press: keysym name and modifier state (decimal)
//   paste STATE TEXT HINT          on Control+V (paste mode): what CLIPBOARD held as UTF8_STRING
//                                  and its x-kde-passwordManagerHint, both hex ("-" for none)
//   copied STATE                   on Control+C (copy mode): it took CLIPBOARD with its text
//
// In silent mode it takes CLIPBOARD at start and never answers a request for it: an owner that
// hangs.
//
//   x11_test_window --mode paste|copy|ignore|silent [--class NAME] [--text TEXT]

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <string>

#include "client_util.hpp"

using namespace x11_test;

namespace {

struct Options {
  std::string mode = "paste";
  std::string windowClass = "deskagent-test-window";
  std::string text = "selected text";
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i];
    if (key == "--mode") o.mode = argv[i + 1];
    if (key == "--class") o.windowClass = argv[i + 1];
    if (key == "--text") o.text = argv[i + 1];
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  Window root = DefaultRootWindow(display);
  Window window = XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0);
  XClassHint hint{const_cast<char*>(options.windowClass.c_str()),
                  const_cast<char*>(options.windowClass.c_str())};
  XSetClassHint(display, window, &hint);
  XSelectInput(display, window, KeyPressMask | StructureNotifyMask | PropertyChangeMask);
  XMapWindow(display, window);
  waitForEvent(
      display, [&](const XEvent& e) { return e.type == MapNotify && e.xmap.window == window; },
      std::chrono::milliseconds(5000));
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  if (options.mode == "silent") XSetSelectionOwner(display, clipboard, window, CurrentTime);
  XSync(display, False);
  say("ready");

  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  // What it copies: its text as UTF-8 and as Latin-1 (the tests keep that text ASCII).
  const std::map<Atom, PropertyValue> offers{{utf8, {utf8, 8, options.text}},
                                             {XA_STRING, {XA_STRING, 8, options.text}}};
  Atom hintTarget = XInternAtom(display, "x-kde-passwordManagerHint", False);
  Atom property = XInternAtom(display, "TEST_PASTE", False);
  auto serveOthers = [&](XEvent& e) {
    if (e.type == SelectionRequest) answer(display, e.xselectionrequest, offers);
  };

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == SelectionRequest) {
      if (options.mode != "silent") answer(display, event.xselectionrequest, offers);
      continue;
    }
    if (event.type != KeyPress) continue;
    KeySym keysym = XLookupKeysym(&event.xkey, 0);
    const char* name = XKeysymToString(keysym);
    unsigned state = event.xkey.state;
    say("key " + std::string(name != nullptr ? name : "?") + " " + std::to_string(state));
    if (!(state & ControlMask)) continue;
    if (options.mode == "paste" && keysym == XK_v) {
      auto text = convertClipboard(display, window, utf8, property, event.xkey.time, serveOthers);
      auto secret =
          convertClipboard(display, window, hintTarget, property, event.xkey.time, serveOthers);
      say("paste " + std::to_string(state) + " " + hex(text ? text->bytes : "") + " " +
          hex(secret ? secret->bytes : ""));
    } else if (options.mode == "copy" && keysym == XK_c) {
      XSetSelectionOwner(display, clipboard, window, event.xkey.time);
      XSync(display, False);
      say("copied " + std::to_string(state));
    }
  }
}
