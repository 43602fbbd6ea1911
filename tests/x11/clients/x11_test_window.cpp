// A focused window standing in for the application the agent types into. It prints one line
// per event the tests look at:
//
//   ready                          mapped and holding the input focus
//   paste STATE TEXT HINT          on Control+V (paste mode): what CLIPBOARD held as UTF8_STRING
//                                  and its x-kde-passwordManagerHint, both hex ("-" for none)
//   copied STATE                   on Control+C (copy mode): it took CLIPBOARD with its text
//
// In paste mode it reads the clipboard --delay MS after Control+V (a busy application). In offer
// mode it takes CLIPBOARD at start offering ten targets: text, markup, files and binary data.
//
//   x11_test_window --mode paste|copy|ignore|offer [--text TEXT] [--delay MS]

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "client_util.hpp"

using namespace x11_test;

namespace {

// The value of the option --`name`, or `fallback`.
std::string option(int argc, char** argv, const std::string& name, const char* fallback) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (argv[i] == "--" + name) return argv[i + 1];
  }
  return fallback;
}

// What an application offers after a copy of mixed content; every value differs from the others.
std::map<Atom, PropertyValue> mixedContent(Display* display) {
  std::string binary("\0\x01\xff\xfe zero and high bytes\0", 26);
  const std::pair<const char*, std::string> values[] = {
      {"UTF8_STRING", "mixed content \xc3\xbc"},
      {"STRING", "mixed content \xfc"},
      {"text/plain", "plain \xfc in another encoding"},
      {"text/html", "<b>mixed</b> content"},
      {"text/uri-list", "file:///tmp/mixed.png\r\n"},
      {"x-special/gnome-copied-files", "copy\nfile:///tmp/mixed.png"},
      {"application/vnd.oasis.opendocument.text", binary + "odt"},
      {"application/octet-stream", binary},
      {"chromium/x-web-custom-data", binary + "web"},
      {"text/rtf", "{\\rtf1 mixed}"},
  };
  std::map<Atom, PropertyValue> offers;
  for (const auto& [name, bytes] : values) {
    Atom atom = XInternAtom(display, name, False);
    offers[atom] = {atom, 8, bytes};
  }
  return offers;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = option(argc, argv, "mode", "paste");
  std::string windowClass = "deskagent-test-window";
  const int delayMs = std::atoi(option(argc, argv, "delay", "0").c_str());
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  Window root = DefaultRootWindow(display);
  Window window = XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0);
  XClassHint hint{windowClass.data(), windowClass.data()};
  XSetClassHint(display, window, &hint);
  XSelectInput(display, window, KeyPressMask | StructureNotifyMask | PropertyChangeMask);
  XMapWindow(display, window);
  waitForEvent(
      display, [&](const XEvent& e) { return e.type == MapNotify && e.xmap.window == window; },
      std::chrono::milliseconds(5000));
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  if (mode == "offer") XSetSelectionOwner(display, clipboard, window, CurrentTime);
  XSync(display, False);
  say("ready");

  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  // What it copies: its text as UTF-8 and as Latin-1 (the tests keep that text ASCII).
  const std::string text = option(argc, argv, "text", "selected text");
  const std::map<Atom, PropertyValue> offers =
      mode == "offer" ? mixedContent(display)
                      : std::map<Atom, PropertyValue>{{utf8, {utf8, 8, text}},
                                                      {XA_STRING, {XA_STRING, 8, text}}};
  Atom hintTarget = XInternAtom(display, "x-kde-passwordManagerHint", False);
  Atom property = XInternAtom(display, "TEST_PASTE", False);
  auto serveOthers = [&](XEvent& e) {
    if (e.type == SelectionRequest) answer(display, e.xselectionrequest, offers);
  };

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == SelectionRequest) {
      answer(display, event.xselectionrequest, offers);
      continue;
    }
    if (event.type != KeyPress) continue;
    KeySym keysym = XLookupKeysym(&event.xkey, 0);
    unsigned state = event.xkey.state;
    if (!(state & ControlMask)) continue;
    if (mode == "paste" && keysym == XK_v) {
      if (delayMs > 0) {
        waitForEvent(
            display, [](const XEvent&) { return false; }, std::chrono::milliseconds(delayMs),
            serveOthers);
      }
      auto pasted = convertClipboard(display, window, utf8, property, event.xkey.time, serveOthers);
      auto secret =
          convertClipboard(display, window, hintTarget, property, event.xkey.time, serveOthers);
      say("paste " + std::to_string(state) + " " + hex(pasted ? pasted->bytes : "") + " " +
          hex(secret ? secret->bytes : ""));
    } else if (mode == "copy" && keysym == XK_c) {
      XSetSelectionOwner(display, clipboard, window, event.xkey.time);
      XSync(display, False);
      say("copied " + std::to_string(state));
    }
  }
}
