// Presses and releases exactly the keys it is told, through XTEST, one key code each: unlike
// `xdotool keydown Shift_R`, which presses the first key of the modifier (Shift_L) instead.
//
//   x11_press STEP...    STEP is +NAME or -NAME (the first key with keysym NAME), +#N or -#N
//                        (key code N), or map:KEY=NAME, which gives KEY (NAME or #N)
//                        the one keysym NAME, as a layout change would, and prints its key code;
//                        move:X,Y moves the pointer there, click:N clicks mouse button N

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

KeyCode keycodeOf(Display* display, const std::string& key) {
  if (!key.empty() && key[0] == '#') return static_cast<KeyCode>(std::atoi(key.c_str() + 1));
  KeySym keysym = XStringToKeysym(key.c_str());
  return keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
}

bool remap(Display* display, const std::string& step) {
  auto eq = step.find('=');
  if (eq == std::string::npos) return false;
  KeyCode keycode = keycodeOf(display, step.substr(4, eq - 4));
  KeySym keysym = XStringToKeysym(step.c_str() + eq + 1);
  if (keycode == 0 || keysym == NoSymbol) return false;
  int per = 0;
  XFree(XGetKeyboardMapping(display, keycode, 1, &per));
  std::vector<KeySym> syms(static_cast<std::size_t>(per), NoSymbol);
  syms[0] = keysym;
  XChangeKeyboardMapping(display, keycode, per, syms.data(), 1);
  XSync(display, False);
  std::printf("%d\n", keycode);
  return true;
}

// Carries out one step; false for one it cannot.
bool run(Display* display, const std::string& step) {
  int x = 0, y = 0;
  if (std::sscanf(step.c_str(), "move:%d,%d", &x, &y) == 2) {
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
  } else if (step.rfind("click:", 0) == 0) {
    auto button = static_cast<unsigned>(std::atoi(step.c_str() + 6));
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
  } else if (step.rfind("map:", 0) == 0) {
    return remap(display, step);
  } else {
    if (step[0] != '+' && step[0] != '-') return false;
    KeyCode keycode = keycodeOf(display, step.substr(1));
    if (keycode == 0) return false;
    XTestFakeKeyEvent(display, keycode, step[0] == '+' ? True : False, CurrentTime);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  for (int i = 1; i < argc; ++i) {
    if (!run(display, argv[i])) {
      std::fprintf(stderr, "x11_press: bad step %s\n", argv[i]);
      return 2;
    }
  }
  XSync(display, False);
  XCloseDisplay(display);
  return 0;
}
