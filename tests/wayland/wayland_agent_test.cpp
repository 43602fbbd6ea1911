// The built agent end to end on a headless sway of the test's own: commands over its pipes, a
// native Wayland test window (clients/wayland_test_window.c) and wl-clipboard as the user's
// clipboard.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "process/child_process.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A headless sway with no input devices and no XWayland. It will not run as root: as root the
// test starts it as nobody, in a runtime directory nobody owns (root's clients still connect).
class Sway {
 public:
  bool start() {
    dir_ = fs::temp_directory_path() / ("deskagent-sway-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "runtime");
    std::ofstream(dir_ / "config") << "xwayland disable\n";
    const bool root = ::geteuid() == 0;
    if (root && ::chown((dir_ / "runtime").c_str(), 65534, 65534) != 0) return false;
    ::chmod((dir_ / "runtime").c_str(), 0700);
    ::chmod(dir_.c_str(), 0755);
    std::vector<std::string> argv{"env",
                                  "-i",
                                  "PATH=/usr/bin:/bin",
                                  "HOME=" + dir_.string(),
                                  "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
                                  "WLR_BACKENDS=headless",
                                  "WLR_RENDERER=pixman",
                                  "WLR_LIBINPUT_NO_DEVICES=1"};
    if (root) {
      for (const char* a : {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}) {
        argv.emplace_back(a);
      }
    }
    argv.insert(argv.end(), {"sway", "-c", (dir_ / "config").string()});
    sway_ = std::make_unique<ChildProcess>(std::move(argv));
    // Ready once its socket is there (a fraction of a second).
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& entry : fs::directory_iterator(dir_ / "runtime")) {
        std::string name = entry.path().filename();
        if (name.starts_with("wayland-") && !name.ends_with(".lock")) {
          ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
          ::setenv("WAYLAND_DISPLAY", name.c_str(), 1);
          ::unsetenv("DISPLAY");
          return true;
        }
      }
      ::usleep(20000);
    }
    return false;
  }
  ~Sway() {
    sway_.reset();
    fs::remove_all(dir_);
  }

 private:
  fs::path dir_;
  std::unique_ptr<ChildProcess> sway_;
};

std::string clipboard() {
  return runToEnd({"wl-paste", "--no-newline"});
}

bool clipboardBecomes(const std::string& expected) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (clipboard() == expected) return true;
    ::usleep(20000);
  }
  return false;
}

class WaylandAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sway >/dev/null && command -v wl-copy >/dev/null") != 0) {
      GTEST_SKIP() << "sway and wl-clipboard are not installed";
    }
    ASSERT_TRUE(sway_.start());
  }

  // The user's last copy; wl-copy holds it in the foreground until someone else copies.
  void userCopies(const std::string& text) {
    userClipboard_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"wl-copy", "--foreground", "--", text});
    ASSERT_TRUE(clipboardBecomes(text));
  }

  // A focused test window and the agent, both ready.
  void startWindowAndAgent(const std::string& appId = "deskagent-test-window") {
    window_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{WAYLAND_TEST_WINDOW, "selected in the window", appId});
    ASSERT_EQ(window_->readLine(), "ready");
    agent_ = std::make_unique<AgentProcess>();
    ASSERT_EQ(agent_->readLine(), R"({"type":"ready"})");
    auto permissions = json::parse(agent_->readLine().value_or("{}"));
    EXPECT_EQ(permissions["accessibility"], true);
    // Its virtual keyboard gives the seat a keyboard, and the window the focus.
    ASSERT_EQ(window_->readLineStartingWith("focus in"), "focus in");
  }

  void send(const json& command) { ASSERT_TRUE(agent_->write(command.dump() + "\n")); }

  Sway sway_;
  std::unique_ptr<ChildProcess> userClipboard_;
  std::unique_ptr<ChildProcess> window_;
  std::unique_ptr<AgentProcess> agent_;
};

TEST_F(WaylandAgentTest, PastesIntoTheFocusedWindowAndGivesTheClipboardBack) {
  userCopies("the user's own");
  startWindowAndAgent();
  send({{"type", "paste"}, {"text", "héllo ✓ wörld"}});
  EXPECT_EQ(window_->readLineStartingWith("key v"), "key v 1 0");
  EXPECT_EQ(window_->readLineStartingWith("pasted: "), "pasted: héllo ✓ wörld");
  EXPECT_EQ(agent_->readLineStartingWith(R"({"type":"paste")"), R"({"type":"paste","ok":true})");
  EXPECT_TRUE(clipboardBecomes("the user's own"));
}

TEST_F(WaylandAgentTest, TerminalsGetShiftWithTheChord) {
  startWindowAndAgent("foot");
  send({{"type", "paste"}, {"text", "ls -l"}});
  EXPECT_EQ(window_->readLineStartingWith("key V"), "key V 1 1");
  EXPECT_EQ(window_->readLineStartingWith("pasted: "), "pasted: ls -l");
}

TEST_F(WaylandAgentTest, ReadsTheSelectionThroughTheCopyChord) {
  userCopies("kept");
  startWindowAndAgent();
  send({{"type", "read-selection"}});
  EXPECT_EQ(window_->readLineStartingWith("copied: "), "copied: selected in the window");
  auto selection =
      json::parse(agent_->readLineStartingWith(R"({"type":"selection")").value_or("{}"));
  EXPECT_EQ(selection["ok"], true);
  EXPECT_EQ(selection["text"], "selected in the window");
  EXPECT_TRUE(clipboardBecomes("kept"));
}

}  // namespace
}  // namespace deskagent::testing
