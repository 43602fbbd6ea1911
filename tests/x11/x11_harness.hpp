#pragma once

// What the X11 tests stand on: an Xvfb of their own on a free display, and child processes
// (the X test clients, xclip) with their output on a pipe. Every wait is bounded.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace deskagent::testing {

using namespace std::chrono_literals;

// A child with stdin and stdout on pipes (stderr goes to ours). Killed when dropped.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    // Its chatter stays out of the test's output, and it keeps no pipe of another child open
    // (an agent would never see the end of its input).
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    ::signal(SIGPIPE, SIG_IGN);
  }
  ~ChildProcess() {
    closeStdin();
    if (stdout_ >= 0) ::close(stdout_);
    kill();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  int outputFd() const { return stdout_; }
  pid_t pid() const { return pid_; }

  bool write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(stdin_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  void closeStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  // The next line without its line feed, or nothing at end of output or timeout.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      if (!fill(deadline)) return std::nullopt;
    }
  }
  // A whole line if one has arrived, without waiting.
  std::optional<std::string> pollLine() { return readLine(std::chrono::milliseconds(0)); }

  // The first line that starts with `prefix`, skipping the others.
  std::optional<std::string> readLineStartingWith(const std::string& prefix,
                                                  std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto line = readLine(left);
      if (!line) return std::nullopt;
      if (line->rfind(prefix, 0) == 0) return line;
    }
  }
  // Whatever output has arrived, lines or not, without waiting.
  std::string takeAvailable() {
    while (fill(std::chrono::steady_clock::now())) {
    }
    return std::exchange(buffer_, {});
  }

  // All output until the child closes it.
  std::string readAll(std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fill(deadline)) {
    }
    return std::exchange(buffer_, {});
  }

  // The exit status, or nothing when it has not exited in time.
  std::optional<int> wait(std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      ::usleep(2000);
    }
    return std::nullopt;
  }

  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  // Reads what there is, waiting until `deadline` at most (a deadline passed: a look only).
  bool fill(std::chrono::steady_clock::time_point deadline) {
    if (stdout_ < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{stdout_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) return false;
    char chunk[65536];
    ssize_t n = ::read(stdout_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
};

// Runs a program to its end and gives its output (for xclip and the key presser).
inline std::string runToEnd(std::vector<std::string> argv, const std::string& input = {}) {
  ChildProcess child(std::move(argv));
  if (!input.empty()) child.write(input);
  child.closeStdin();
  std::string out = child.readAll();
  child.wait();
  return out;
}

// An Xvfb of the test's own. The display is free when chosen by the server (-displayfd); a
// restart reuses the same number, as a server restarting on a desktop does.
class XServer {
 public:
  XServer() = default;
  ~XServer() { stop(); }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // `options` are the server's own (kept for a restart), e.g. "-auth" and a cookie file.
  bool start(std::vector<std::string> options = {}) {
    options_ = std::move(options);
    return launch({});
  }
  bool restart() { return display_ >= 0 && launch(std::to_string(display_)); }

  // Ends the server abruptly, as a crash would.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string name() const { return ":" + std::to_string(display_); }
  // Points this process (and the children it starts) at the server.
  void makeCurrent() const { ::setenv("DISPLAY", name().c_str(), 1); }

 private:
  bool launch(const std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    std::vector<std::string> argv{"Xvfb"};
    if (!display.empty()) argv.push_back(":" + display);
    for (const char* a : {"-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "640x480x24"}) {
      argv.emplace_back(a);
    }
    argv.insert(argv.end(), options_.begin(), options_.end());
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Only its display-number pipe: a server holding an agent's stdin open would keep that
    // agent from ever seeing the end of its input.
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      pid_ = -1;
      return false;
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (::poll(&p, 1, 200) <= 0) continue;
      char chunk[32];
      ssize_t n = ::read(fds[0], chunk, sizeof chunk);
      if (n <= 0) break;
      number.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      stop();
      return false;
    }
    display_ = std::stoi(number);
    return true;
  }

  pid_t pid_ = -1;
  int display_ = -1;
  std::vector<std::string> options_;
};

}  // namespace deskagent::testing
