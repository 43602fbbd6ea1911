#include "platform/x11/x11_describe.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace deskagent::platform::x11 {
namespace {

std::string version(int major, int minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

// libxcb writes a server's refusal (its reason, e.g. for a missing cookie) to stderr and returns
// nothing but failure: the reason is caught from there.
Display* openCatchingRefusal(const char* name, std::string& refusal) {
  int pipeFds[2];
  int saved = ::dup(STDERR_FILENO);
  if (saved < 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (saved >= 0) ::close(saved);
    return XOpenDisplay(name);
  }
  ::dup2(pipeFds[1], STDERR_FILENO);
  Display* display = XOpenDisplay(name);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(pipeFds[1]);
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) refusal.append(buffer, n);
  ::close(pipeFds[0]);
  while (!refusal.empty() && (refusal.back() == '\n' || refusal.back() == '\r')) refusal.pop_back();
  return display;
}

std::string whyNotOpened(const std::string& name, const std::string& refusal) {
  if (!refusal.empty()) {
    const char* cookies = std::getenv("XAUTHORITY");
    return "the server refused the agent: " + refusal + " (the cookie comes from " +
           (cookies != nullptr ? std::string("XAUTHORITY=") + cookies : "~/.Xauthority") + ")";
  }
  char* host = nullptr;
  int number = 0, screen = 0;
  if (xcb_parse_display(name.c_str(), &host, &number, &screen) == 0) {
    return "this is no display name (:0, or host:0)";
  }
  std::string hostName = host != nullptr ? host : "";
  std::free(host);
  if (hostName.empty() || hostName == "unix") {
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    struct stat info {};
    return ::stat(socket.c_str(), &info) != 0
               ? "no X server runs there (no socket " + socket + "): not started, or not yet"
               : "nothing answers at " + socket + ": the server has gone or is starting";
  }
  return "no X server answers on " + hostName + " (display " + std::to_string(number) +
         ", TCP port " + std::to_string(6000 + number) + ")";
}

}  // namespace

DisplayDescription describeX11Display() {
  DisplayDescription out;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    out.facts.push_back("DISPLAY is not set: no X display is named");
    return out;
  }
  out.named = true;
  std::string refusal;
  Display* display = openCatchingRefusal(name, refusal);
  if (display == nullptr) {
    out.facts.push_back(std::string("DISPLAY=") + name +
                        " could not be opened: " + whyNotOpened(name, refusal));
    return out;
  }
  out.opened = true;
  out.facts.push_back(std::string("DISPLAY=") + name + ": " + ServerVendor(display) + ", release " +
                      std::to_string(VendorRelease(display)));

  int event = 0, error = 0, major = 0, minor = 0;
  out.facts.push_back(
      XTestQueryExtension(display, &event, &error, &major, &minor)
          ? "XTEST " + version(major, minor) + ": synthetic keys, for paste and read-selection"
          : "XTEST missing: no synthetic keys, so paste and read-selection are refused");

  int opcode = 0;
  major = 2;
  minor = 2;
  bool xinput = XQueryExtension(display, "XInputExtension", &opcode, &event, &error) &&
                XIQueryVersion(display, &major, &minor) == Success;
  out.facts.push_back(!xinput ? "XInput 2 missing: no key watch (the tap is refused)"
                      : (major > 2 || minor >= 2)
                          ? "XInput " + version(major, minor) +
                                ": raw key events, for the key watch"
                          : "XInput " + version(major, minor) +
                                " only: the key watch needs 2.2 (the tap is refused)");

  out.facts.push_back(XFixesQueryExtension(display, &event, &error)
                          ? "XFIXES: clipboard owner changes are seen"
                          : "XFIXES missing: clipboard owner changes are not seen");
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  out.facts.push_back(XkbQueryExtension(display, &opcode, &event, &error, &major, &minor)
                          ? "XKB " + version(major, minor) + ": the keyboard layout is followed"
                          : "XKB missing: the layout is read once");
  XCloseDisplay(display);
  return out;
}

}  // namespace deskagent::platform::x11
