#pragma once

// Child processes as the tests drive them: the built agent as a host runs it, and the helpers
// around it (X test clients, xclip, the X server). Its stdin and stdout are on pipes, its stderr
// on a pipe or /dev/null. Every wait is bounded, so a hung child fails the test instead of
// hanging it; a child still running when dropped is killed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace deskagent::testing {

using namespace std::chrono_literals;

class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, bool keepStderr = false) {
    int in[2], out[2], err[2] = {-1, -1};
    if (!makePipe(in) || !makePipe(out) || (keepStderr && !makePipe(err))) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (keepStderr) {
      posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1], err[1]}) {
      if (fd >= 0) ::close(fd);
    }
    stdin_ = in[1];
    out_.fd = out[0];
    err_.fd = err[0];
    // Our writes to a child that has gone must not kill the test. Caught, not ignored: a handler
    // is not passed on to the children, who start with SIGPIPE's default as a host starts them.
    ::signal(SIGPIPE, [](int) {});
  }
  ~ChildProcess() {
    closeStdin();
    closeStdout();
    if (err_.fd >= 0) ::close(err_.fd);
    kill();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  int outputFd() const { return out_.fd; }

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
    if (out_.fd >= 0) ::close(std::exchange(out_.fd, -1));
  }

  // The first line that starts with `prefix`, skipping the others, without its line feed; nothing
  // at the end of output or timeout.
  std::optional<std::string> readLineStartingWith(const std::string& prefix,
                                                  std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      auto nl = out_.buffer.find('\n');
      if (nl == std::string::npos) {
        if (!fill(out_, deadline)) return std::nullopt;
        continue;
      }
      std::string line = out_.buffer.substr(0, nl);
      out_.buffer.erase(0, nl + 1);
      if (line.starts_with(prefix)) return line;
    }
  }
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 10s) {
    return readLineStartingWith("", timeout);
  }
  // A whole line if one has arrived, without waiting.
  std::optional<std::string> pollLine() { return readLine(0ms); }

  // One command, as a host writes it.
  bool send(const nlohmann::json& command) { return write(command.dump() + "\n"); }
  // The next line starting with `prefix`, as JSON: {"type":"nothing"} at the end of output, on
  // timeout, or for a line that is not JSON.
  nlohmann::json nextJson(const std::string& prefix = "", std::chrono::milliseconds timeout = 10s) {
    auto line = readLineStartingWith(prefix, timeout);
    auto event = line ? nlohmann::json::parse(*line, nullptr, false) : nlohmann::json();
    return event.is_discarded() || event.is_null() ? nlohmann::json{{"type", "nothing"}} : event;
  }

  // Whatever output has arrived, lines or not, without waiting.
  std::string takeAvailable() {
    while (fill(out_, std::chrono::steady_clock::now())) {
    }
    return std::exchange(out_.buffer, {});
  }
  // All output, or all of stderr (when kept), until the child closes it.
  std::string readAll() { return drain(out_); }
  std::string readAllStderr() { return drain(err_); }

  // The exit status, or nothing when it has not exited in time; -1 when ended by a signal, which
  // endingSignal() then names.
  std::optional<int> wait(std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && !status_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      } else if (std::chrono::steady_clock::now() > deadline) {
        return std::nullopt;
      } else {
        ::usleep(1000);
      }
    }
    return status_;
  }

  void kill() {
    if (pid_ <= 0 || status_) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    status_ = -1;
    signal_ = SIGKILL;
  }
  int endingSignal() const { return signal_; }

 private:
  struct Pipe {
    int fd = -1;
    std::string buffer;
  };

  // A pipe that no child inherits but through the descriptors it is given: a child holding
  // another's stdin open would keep that one from ever seeing the end of its input.
  static bool makePipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }

  // Reads what there is, waiting until `deadline` at most (a deadline passed: a look only).
  static bool fill(Pipe& pipe, std::chrono::steady_clock::time_point deadline) {
    if (pipe.fd < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{pipe.fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max(left, 0ms).count())) <= 0) return false;
    char chunk[65536];
    ssize_t n = ::read(pipe.fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    pipe.buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  static std::string drain(Pipe& pipe) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fill(pipe, deadline)) {
    }
    return std::exchange(pipe.buffer, {});
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  Pipe out_;
  Pipe err_;
  std::optional<int> status_;
  int signal_ = 0;
};

// The agent under test: the one built beside the tests, or DESKAGENT_TEST_AGENT when set (a
// release binary, or a script that starts one in another userland or under an emulator).
inline const char* agentBinary() {
  const char* other = std::getenv("DESKAGENT_TEST_AGENT");
  return other != nullptr && *other != '\0' ? other : DESKAGENT_BINARY;
}

// The agent, as a host starts it; what it writes to stderr is kept for the tests.
struct AgentProcess : ChildProcess {
  explicit AgentProcess(std::vector<std::string> arguments = {})
      : ChildProcess(withBinary(std::move(arguments)), /*keepStderr=*/true) {}

 private:
  static std::vector<std::string> withBinary(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), agentBinary());
    return arguments;
  }
};

// Builds under a sanitizer run the agent several times slower, in more memory.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// Runs a program to its end and gives its output.
inline std::string runToEnd(std::vector<std::string> argv) {
  ChildProcess child(std::move(argv));
  child.closeStdin();
  std::string out = child.readAll();
  child.wait();
  return out;
}

// Removes `path` and what is under it, never throwing: what a program that is still ending writes
// or removes meanwhile (Chromium's helpers, a desktop's services) is tried again a few times.
inline void removeAllQuietly(const std::filesystem::path& path) {
  std::error_code error;
  for (int attempt = 0; attempt < 10 && std::filesystem::exists(path, error); ++attempt) {
    std::filesystem::remove_all(path, error);
    if (!error) return;
    ::usleep(100000);
  }
}

// Asks until `read` gives `expected` (a restore comes a moment after its event).
inline bool becomes(const std::function<std::optional<std::string>()>& read,
                    const std::string& expected, std::chrono::seconds timeout = 10s) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (read() == expected) return true;
    ::usleep(20000);
  }
  return false;
}

}  // namespace deskagent::testing
