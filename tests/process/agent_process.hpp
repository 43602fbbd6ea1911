#pragma once

// Runs the built agent as a host would: a child process with its stdin, stdout and stderr on
// pipes. Every wait is bounded, so a hung agent fails the test instead of hanging it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

extern char** environ;

namespace deskagent::testing {

class AgentProcess {
 public:
  explicit AgentProcess(const char* path = DESKAGENT_BINARY) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
    char* argv[] = {const_cast<char*>(path), nullptr};
    if (posix_spawn(&pid_, path, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    ::signal(SIGPIPE, SIG_IGN);  // our writes to an agent that has gone must not kill the test
  }

  ~AgentProcess() {
    closeStdin();
    closeStdout();
    if (stderr_ >= 0) ::close(stderr_);
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }

  bool write(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(stdin_, bytes.data(), bytes.size());
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  void closeStdin() {
    if (stdin_ >= 0) ::close(std::exchange(stdin_, -1));
  }
  void closeStdout() {
    if (stdout_ >= 0) ::close(std::exchange(stdout_, -1));
  }

  // The next line from stdout, line feed included, or nothing at end of output or timeout.
  std::optional<std::string> readLine(
      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl + 1);
        buffer_.erase(0, nl + 1);
        return line;
      }
      if (!fill(stdout_, buffer_, deadline)) return std::nullopt;
    }
  }

  // Everything the agent wrote to stderr until it closed it.
  std::string readAllStderr() {
    std::string all;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fill(stderr_, all, deadline)) {
    }
    return all;
  }

  // The exit status, or nothing if the agent has not exited within the timeout. -1 when it
  // was ended by a signal.
  std::optional<int> waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      ::usleep(1000);
    }
    return status_;
  }

  pid_t pid() const { return pid_; }

 private:
  static bool fill(int fd, std::string& into, std::chrono::steady_clock::time_point deadline) {
    if (fd < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[65536];
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

}  // namespace deskagent::testing
