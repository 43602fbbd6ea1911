#pragma once

// What the X11 tests stand on: an Xvfb of their own on a free display, and the X clients that
// drive its desktop (the key presser, the test window, xclip).

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "process/child_process.hpp"
#include "x11/clients/hex.hpp"

namespace deskagent::testing {

// An Xvfb of the test's own, on a display number of its own: derived from the process id and
// far above the numbers a server choosing the lowest free one takes, so that no server of a test
// running beside this one can take it while this one is down for a restart. A restart reuses the
// number, as a server restarting on a desktop does.
class XServer {
 public:
  // `options` are the server's own (kept for a restart), e.g. "-auth" and a cookie file.
  bool start(std::vector<std::string> options = {}) {
    options_ = std::move(options);
    for (int display = 1000 + ::getpid() % 30000, tries = 0; tries < 50; ++display, ++tries) {
      if (launch(display)) return true;  // a number in use ends that server at once
    }
    return false;
  }
  bool restart() { return display_ >= 0 && launch(display_); }
  // Ends the server abruptly, as a crash would.
  void stop() { server_.reset(); }

  // Points this process (and the children it starts) at the server.
  void makeCurrent() const { ::setenv("DISPLAY", displayName(display_).c_str(), 1); }

 private:
  // Appended rather than `":" + ...`, which GCC 12 at -O3 warns of (-Wrestrict, a known false
  // positive in the inlined insert at position 0).
  static std::string displayName(int display) {
    return std::string(":").append(std::to_string(display));
  }

  bool launch(int display) {
    std::vector<std::string> argv{"Xvfb", displayName(display)};
    for (const char* a : {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"}) {
      argv.emplace_back(a);
    }
    argv.insert(argv.end(), options_.begin(), options_.end());
    server_ = std::make_unique<ChildProcess>(std::move(argv));
    // The server writes its display number once it accepts connections.
    if (!server_->readLine(20s)) {
      stop();
      return false;
    }
    display_ = display;
    return true;
  }

  std::unique_ptr<ChildProcess> server_;
  int display_ = -1;
  std::vector<std::string> options_;
};

// Presses and releases keys through clients/x11_press.cpp; its output (a remapped key code).
inline std::string press(std::vector<std::string> steps) {
  steps.insert(steps.begin(), X11_PRESS);
  return runToEnd(std::move(steps));
}

// A client taking CLIPBOARD with `bytes` as `type`, as the user's last copy; it owns the
// clipboard a moment after this returns.
inline std::unique_ptr<ChildProcess> xclipCopy(const std::string& bytes,
                                               const std::string& type = "UTF8_STRING") {
  auto xclip = std::make_unique<ChildProcess>(
      std::vector<std::string>{"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i"});
  xclip->write(bytes);
  xclip->closeStdin();
  return xclip;
}

// What another client reads from `selection` as `type`.
inline std::string clipboard(const std::string& type = "UTF8_STRING",
                             const std::string& selection = "clipboard") {
  return runToEnd({"xclip", "-o", "-selection", selection, "-t", type});
}

inline bool clipboardBecomes(const std::string& expected, const std::string& type = "UTF8_STRING",
                             std::chrono::seconds bound = 10s) {
  return becomes([&] { return clipboard(type); }, expected, bound);
}

// The user's last copy, owning CLIPBOARD once this returns.
inline std::unique_ptr<ChildProcess> userClipboard(const std::string& bytes,
                                                   const std::string& type = "UTF8_STRING") {
  auto xclip = xclipCopy(bytes, type);
  clipboardBecomes(bytes, type);  // should it never, the test's own checks fail
  return xclip;
}

// The line the test window prints when Control+V (and `state`) reaches it: what CLIPBOARD held
// as text and its password-manager hint.
inline std::string pasteLine(unsigned state, const std::string& text, const std::string& hint) {
  return "paste " + std::to_string(state) + " " + x11_test::hex(text) + " " + x11_test::hex(hint);
}

}  // namespace deskagent::testing
