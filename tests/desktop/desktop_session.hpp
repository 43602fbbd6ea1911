#pragma once

// A GNOME or KDE session in the Debian 13 userland (userland.sh, session.sh): its compositor
// headless, as an unprivileged user on a session bus of its own; every program a test starts in
// it enters the session's mount namespace and root, as that user, with the session's bus and
// display. The agent runs there as a copy of the one just built.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "process/child_process.hpp"

namespace deskagent::testing {

class DesktopSession {
 public:
  // Starts `desktop` ("gnome" or "kde"); started() says whether it is up.
  explicit DesktopSession(const std::string& desktop) : root_(DESKAGENT_USERLAND) {
    namespace fs = std::filesystem;
    if (!fs::exists(root_ / ".deskagent-ready")) return;
    // A scratch directory of this test's inside the userland: the agent's copy, the logs.
    scratch_ = "/tmp/deskagent-test-" + std::to_string(::getpid());
    removeAllQuietly(hostPath(scratch_));
    fs::create_directories(hostPath(scratch_));
    fs::permissions(hostPath(scratch_), fs::perms::all);
    fs::copy_file(DESKAGENT_BINARY, hostPath(scratch_ + "/deskagent"));
    // The test's own programs, at the same path inside.
    ::setenv("DESKAGENT_USERLAND_BIND", DESKAGENT_DESKTOP_TESTS, 1);
    session_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{DESKAGENT_DESKTOP_TESTS "/userland.sh", "enter", root_.string(),
                                 "/bin/sh", DESKAGENT_DESKTOP_TESTS "/session.sh", desktop});
    auto line = session_->readLineStartingWith("session ", 60s);
    if (!line) return;
    std::istringstream words(*line);
    std::string word;
    words >> word >> pid_ >> bus_;
    if (desktop == "kde") {
      // Headless KWin's seat has no keyboard, and a window without the keyboard focus cannot
      // take the clipboard. An agent of the session's own holds one (its EIS keyboard) for the
      // session's life, as a desktop's own keyboard would.
      keyboard_ = agent();
      if (keyboard_->readLine(30s) != R"({"type":"ready"})") bus_.clear();
    }
  }
  ~DesktopSession() {
    keyboard_.reset();
    if (!session_) return;
    // Its input ends the session; what it left running goes with the userland's namespace.
    session_->closeStdin();
    session_->wait(30s);
    removeAllQuietly(hostPath(scratch_));
  }
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  bool started() const { return !bus_.empty(); }

  // `argv` as a program of the session, with `environment` ("NAME=value") besides its own.
  std::vector<std::string> command(std::vector<std::string> argv,
                                   const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> full{"nsenter",
                                  "--target",
                                  pid_,
                                  "--mount",
                                  "--root",
                                  "--wd",
                                  "setpriv",
                                  "--reuid=1000",
                                  "--regid=1000",
                                  "--clear-groups",
                                  "env",
                                  "-i",
                                  "HOME=/home/user",
                                  "LANG=C.UTF-8",
                                  "PATH=/usr/bin:/bin",
                                  "XDG_RUNTIME_DIR=/run/user/1000",
                                  "WAYLAND_DISPLAY=wayland-0",
                                  "DBUS_SESSION_BUS_ADDRESS=" + bus_,
                                  "QT_QPA_PLATFORM=wayland"};
    full.insert(full.end(), environment.begin(), environment.end());
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
  }
  std::unique_ptr<ChildProcess> start(std::vector<std::string> argv,
                                      bool keepStderr = false) const {
    return std::make_unique<ChildProcess>(command(std::move(argv)), keepStderr);
  }
  std::string run(std::vector<std::string> argv) const {
    return runToEnd(command(std::move(argv)));
  }

  // One of the test clients (tests/desktop/clients), by file name.
  static std::string client(const std::string& name) {
    return DESKAGENT_DESKTOP_TESTS "/clients/" + name;
  }
  // The agent as a host in the session starts it; its stderr is kept.
  std::unique_ptr<ChildProcess> agent() const {
    return std::make_unique<ChildProcess>(command({scratch_ + "/deskagent"}), true);
  }
  // A path inside the userland, as the test sees it.
  std::filesystem::path hostPath(const std::string& inside) const {
    return root_ / std::filesystem::path(inside).relative_path();
  }
  const std::string& scratch() const { return scratch_; }

 private:
  std::filesystem::path root_;
  std::string scratch_;
  std::string pid_;
  std::string bus_;
  std::unique_ptr<ChildProcess> session_;
  std::unique_ptr<ChildProcess> keyboard_;
};

}  // namespace deskagent::testing
