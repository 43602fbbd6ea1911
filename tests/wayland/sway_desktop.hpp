#pragma once

// What the Wayland end-to-end tests stand on: a headless sway of the test's own with the user's
// keyboard (clients/wayland_user_keyboard.c), the applications the user runs on it, and the
// compositor's own view of its windows (swaymsg).

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "process/child_process.hpp"

namespace deskagent::testing {

namespace fs = std::filesystem;

// A headless sway with no input devices: the user's keyboard is a virtual one. Sway will not run
// as root, so as root the desktop's user is nobody: sway, the applications and the agent run as
// nobody in folders nobody owns (the binaries they run are copied there, wherever the build is).
class SwayDesktop {
 public:
  ~SwayDesktop() {
    processes_.clear();
    sway_.reset();
    removeAllQuietly(dir_);
  }

  // With XWayland when asked (it costs a second): X11 applications then run too.
  bool start(bool xwayland = false) {
    xwayland_ = xwayland;
    dir_ = fs::temp_directory_path() / ("deskagent-sway-" + std::to_string(::getpid()));
    removeAllQuietly(dir_);
    for (const char* sub : {"runtime", "home", "bin"}) fs::create_directories(dir_ / sub);
    std::ofstream(dir_ / "config") << (xwayland ? "xwayland force\n" : "xwayland disable\n");
    for (const char* sub : {"runtime", "home"}) {
      if (root() && ::chown((dir_ / sub).c_str(), kNobody, kNobody) != 0) return false;
      ::chmod((dir_ / sub).c_str(), 0700);
    }
    ::chmod(dir_.c_str(), 0755);
    return launch();
  }

  // Ends the compositor abruptly, as a crash would; restart() starts another at the same
  // WAYLAND_DISPLAY, as a user logging in again gets.
  void stop() { sway_.reset(); }
  bool restart() { return launch(); }
  // Stops or resumes the compositor (SIGSTOP, SIGCONT), as a hung one or a debugger does.
  void pause(bool paused) { ::kill(sway_->pid(), paused ? SIGSTOP : SIGCONT); }

  // The user's home folder, where applications keep their files.
  fs::path home() const { return dir_ / "home"; }

  // A program of the build's, where the desktop's user can run it.
  std::string program(const std::string& path) const {
    fs::path copy = dir_ / "bin" / fs::path(path).filename();
    if (!fs::exists(copy)) fs::copy_file(path, copy);
    return copy.string();
  }

  // Runs `argv` as the desktop's user, in the session's environment plus `env` (NAME=value).
  ChildProcess& run(std::vector<std::string> argv, std::vector<std::string> env = {},
                    bool keepStderr = false) {
    env.insert(env.begin(), {"LANG=C.UTF-8", "WAYLAND_DISPLAY=wayland-1"});
    if (!xDisplay_.empty()) env.push_back("DISPLAY=" + xDisplay_);
    std::vector<std::string> command = asUser(std::move(argv), env);
    processes_.push_back(std::make_unique<ChildProcess>(std::move(command), keepStderr));
    return *processes_.back();
  }

  // The window with the keyboard focus, as the compositor tells: its app id (an X11 window's
  // class) and title.
  struct Window {
    std::string appId;
    std::string title;
  };
  std::optional<Window> focused() const {
    auto tree =
        nlohmann::json::parse(runToEnd({"swaymsg", "--raw", "-t", "get_tree"}), nullptr, false);
    return tree.is_discarded() ? std::nullopt : focusedIn(tree);
  }
  // Waits until a window of that app id has the focus, and gives its title.
  std::optional<std::string> awaitFocus(const std::string& appId) const {
    std::string title;
    bool found = becomes(
        [&]() -> std::optional<std::string> {
          auto window = focused();
          if (window) title = window->title;
          return window ? window->appId : "";
        },
        appId, 30s);
    return found ? std::optional(title) : std::nullopt;
  }

 private:
  static constexpr uid_t kNobody = 65534;
  static bool root() { return ::geteuid() == 0; }

  // `argv` as the desktop's user, in nothing but the session's environment and `env`.
  std::vector<std::string> asUser(std::vector<std::string> argv,
                                  const std::vector<std::string>& env) const {
    std::vector<std::string> command{"env", "-i", "PATH=/usr/bin:/bin", "HOME=" + home().string(),
                                     "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string()};
    command.insert(command.end(), env.begin(), env.end());
    if (root()) {
      command.insert(command.end(),
                     {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
  }

  bool launch() {
    auto argv =
        asUser({"sway", "-c", (dir_ / "config").string()},
               {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
    sway_ = std::make_unique<ChildProcess>(std::move(argv));
    // Ready once its sockets are there (a fraction of a second), under the first name libwayland
    // gives, the runtime directory being its alone.
    const fs::path runtime = dir_ / "runtime";
    auto ipcSocket = [&]() -> std::string {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(runtime, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("sway-ipc.") && name.find(std::to_string(sway_->pid())) != name.npos) {
          return entry.path().string();
        }
      }
      return "";
    };
    if (!becomes([&] { return std::to_string(fs::exists(runtime / "wayland-1")); }, "1", 20s) ||
        !becomes([&] { return std::to_string(!ipcSocket().empty()); }, "1", 20s)) {
      return false;
    }
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    ::setenv("SWAYSOCK", ipcSocket().c_str(), 1);
    ::unsetenv("DISPLAY");
    xDisplay_.clear();
    if (xwayland_) {
      // Its X display, as the compositor gives it to what it starts.
      const fs::path file = runtime / "display";
      fs::remove(file);
      runToEnd({"swaymsg", "exec", "echo $DISPLAY >" + file.string()});
      auto display = [&] {
        std::string name;
        std::ifstream(file) >> name;
        return name;
      };
      if (!becomes([&] { return std::to_string(display().starts_with(":")); }, "1", 20s)) {
        return false;
      }
      xDisplay_ = display();
    }
    return true;
  }

  static std::optional<Window> focusedIn(const nlohmann::json& node) {
    if (node.value("focused", false) && node.contains("pid")) {
      Window window;
      if (node["app_id"].is_string()) window.appId = node["app_id"];
      if (node.contains("window_properties")) window.appId = node["window_properties"]["class"];
      window.title = node.value("name", "");
      return window;
    }
    for (const char* list : {"nodes", "floating_nodes"}) {
      for (const auto& child : node.value(list, nlohmann::json::array())) {
        if (auto window = focusedIn(child)) return window;
      }
    }
    return std::nullopt;
  }

  fs::path dir_;
  bool xwayland_ = false;
  std::string xDisplay_;
  std::unique_ptr<ChildProcess> sway_;
  std::vector<std::unique_ptr<ChildProcess>> processes_;
};

// The user's keyboard and copies (clients/wayland_user_keyboard.c), in a layout of theirs (and
// its variant).
class UserKeyboard {
 public:
  UserKeyboard(SwayDesktop& desktop, std::vector<std::string> layout)
      : process_(desktop.run(withProgram(desktop, std::move(layout)))) {
    ready_ = process_.readLine(20s) == "ready";
  }
  bool ready() const { return ready_; }
  // A chord or command, once the compositor has it.
  bool type(const std::string& command) {
    return process_.write(command + "\n") && process_.readLine(20s) == "done";
  }

 private:
  static std::vector<std::string> withProgram(SwayDesktop& desktop,
                                              std::vector<std::string> layout) {
    layout.insert(layout.begin(), desktop.program(WAYLAND_USER_KEYBOARD));
    return layout;
  }

  ChildProcess& process_;
  bool ready_ = false;
};

// Every type of the clipboard, with its bytes.
inline std::map<std::string, std::string> clipboardByType() {
  std::map<std::string, std::string> types;
  std::string list = runToEnd({"wl-paste", "--list-types"});
  for (std::size_t at = 0, nl; (nl = list.find('\n', at)) != std::string::npos; at = nl + 1) {
    std::string type = list.substr(at, nl - at);
    types[type] = runToEnd({"wl-paste", "--no-newline", "--type", type});
  }
  return types;
}

}  // namespace deskagent::testing
