// An owner of CLIPBOARD that answers as some real owners have been seen to. It takes CLIPBOARD
// at start, prints "ready" (and "cleared" should another take it), and serves until killed:
//
//   drip TEXT          UTF8_STRING sent by INCR one byte per chunk, a chunk every 0.4 s; prints
//                      "sent N" after each
//   huge-incr TEXT     UTF8_STRING by INCR, announcing 0xFFFFFFFF bytes, then TEXT in one chunk
//   targets-as-string  TARGETS answered as an 8-bit STRING instead of a list of atoms
//   answer-elsewhere   every answer written on a window of its own, not the requestor's
//
//   x11_odd_owner MODE [ARG]

#include <X11/Xatom.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "client_util.hpp"

using namespace x11_test;
using Clock = std::chrono::steady_clock;

namespace {

struct Incr {
  Window requestor = None;
  Atom property = None;
  std::string left;
  bool done = false;
  Clock::time_point nextChunk;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  const std::string text = argc > 2 ? argv[2] : "odd owner text";
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  Atom targets = XInternAtom(display, "TARGETS", False);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom incrType = XInternAtom(display, "INCR", False);
  XSetSelectionOwner(display, clipboard, window, CurrentTime);
  XSync(display, False);
  say("ready");

  const bool dripping = mode == "drip";
  std::vector<Incr> transfers;
  auto writeChunk = [&](Incr& t) {
    std::size_t n = dripping ? std::min<std::size_t>(1, t.left.size()) : t.left.size();
    XChangeProperty(display, t.requestor, t.property, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(t.left.data()), static_cast<int>(n));
    t.done = t.left.empty();
    t.left.erase(0, n);
    if (dripping && !t.done) say("sent " + std::to_string(text.size() - t.left.size()));
    t.nextChunk = Clock::time_point::max();
    XFlush(display);
  };

  for (;;) {
    // Chunks that are due (a dripping owner's pause is over).
    for (Incr& t : transfers) {
      if (Clock::now() >= t.nextChunk) writeChunk(t);
    }
    std::erase_if(transfers, [](const Incr& t) { return t.done; });
    if (XPending(display) == 0) {
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      ::poll(&p, 1, 20);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
      for (Incr& t : transfers) {
        if (t.requestor == event.xproperty.window && t.property == event.xproperty.atom) {
          t.nextChunk = dripping ? Clock::now() + std::chrono::milliseconds(400) : Clock::now();
        }
      }
      continue;
    }
    if (event.type == SelectionClear) say("cleared");
    if (event.type != SelectionRequest) continue;
    const XSelectionRequestEvent& request = event.xselectionrequest;
    Window into = mode == "answer-elsewhere" ? window : request.requestor;
    if (request.target == targets) {
      if (mode == "targets-as-string") {
        std::string names = "UTF8_STRING";
        XChangeProperty(display, into, request.property, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(names.data()),
                        static_cast<int>(names.size()));
      } else {
        std::vector<Atom> list{targets, utf8};
        XChangeProperty(display, into, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(list.data()),
                        static_cast<int>(list.size()));
      }
    } else if (request.target == utf8 && (dripping || mode == "huge-incr")) {
      long announced = dripping ? static_cast<long>(text.size()) : 0xFFFFFFFFL;
      XSelectInput(display, request.requestor, PropertyChangeMask);
      XChangeProperty(display, request.requestor, request.property, incrType, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&announced), 1);
      transfers.push_back(
          {request.requestor, request.property, text, false, Clock::time_point::max()});
    } else if (request.target == utf8) {
      XChangeProperty(display, into, request.property, utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
    } else {
      notify(display, request, None);
      continue;
    }
    notify(display, request, request.property);
  }
}
