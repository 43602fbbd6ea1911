#pragma once

// What the X11 tests stand on: an Xvfb of their own on a free display, and the X clients that
// drive its desktop (the key presser, the test window, xclip).

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

// Double-clicks the word under the pointer until it is the primary selection, again should the
// window have come up late.
inline bool doubleClickSelects(const std::string& word) {
  for (int tries = 0; tries < 3; ++tries) {
    press({"click:1", "click:1"});
    if (becomes([&] { return clipboard("UTF8_STRING", "primary"); }, word, 2s)) return true;
  }
  return false;
}

// The real applications the tests drive, where installed (scripts/install-deps.sh installs them):
// a plain user build without them skips their tests.
inline bool installed(const std::string& program) {
  return ::access(program.c_str(), X_OK) == 0;
}
inline bool pyQtInstalled() {
  return installed("/usr/bin/python3") &&
         std::filesystem::exists("/usr/lib/python3/dist-packages/PyQt5/QtWidgets.abi3.so");
}

// Waits for a window of the class `name` to be mapped and gives it the input focus, as a window
// manager would (some toolkits track modifiers only in a window that has been given the focus).
inline bool focusOnceMapped(const std::string& name) {
  ChildProcess xdotool({"timeout", "20", "xdotool", "search", "--sync", "--onlyvisible", "--class",
                        name, "windowfocus", "--sync", "%1"});
  xdotool.closeStdin();
  return xdotool.wait(30s) == 0;
}

// Makes `layout` the keyboard's only layout, as a user does with setxkbmap; asked again should a
// server just started not have taken it.
inline bool useLayout(const std::string& layout) {
  for (int tries = 0; tries < 3; ++tries) {
    runToEnd({"setxkbmap", "-layout", layout});
    if (runToEnd({"setxkbmap", "-query"}).find("layout:     " + layout + "\n") !=
        std::string::npos) {
      return true;
    }
  }
  return false;
}

// CopyQ, a clipboard manager that reads every new clipboard at once, with a home of its own.
class CopyQ {
 public:
  CopyQ() : home_("/tmp/deskagent-copyq-" + std::to_string(::getpid())) {
    std::filesystem::create_directories(home_ + "/run");
    std::filesystem::permissions(home_ + "/run", std::filesystem::perms::owner_all);
    server_ = std::make_unique<ChildProcess>(command({}));
  }
  ~CopyQ() {
    server_.reset();
    removeAllQuietly(home_);
  }
  // Once its server answers.
  bool ready() {
    return becomes([&] { return std::optional(!runToEnd(command({"size"})).empty() ? "" : "-"); },
                   "");
  }
  // What it has recorded, newest first, one item a line.
  std::string history() {
    return runToEnd(
        command({"eval", "--", "for (i = 0; i < size(); ++i) print(str(read(i)) + '\\n')"}));
  }

 private:
  std::vector<std::string> command(std::vector<std::string> arguments) {
    std::vector<std::string> argv{"env",
                                  "HOME=" + home_,
                                  "XDG_CONFIG_HOME=" + home_,
                                  "XDG_DATA_HOME=" + home_,
                                  "XDG_RUNTIME_DIR=" + home_ + "/run",
                                  "copyq"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
  }

  std::string home_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace deskagent::testing
