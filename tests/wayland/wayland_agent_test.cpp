// The built agent end to end on a headless sway of the test's own: commands over its pipes, a
// native Wayland test window (clients/wayland_test_window.c) and wl-clipboard as the user's
// clipboard.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    // Ready once its socket is there (a fraction of a second), under the first name libwayland
    // gives, the runtime directory being its alone.
    const fs::path socket = dir_ / "runtime" / "wayland-1";
    if (!becomes([&] { return std::to_string(fs::exists(socket)); }, "1", 20s)) return false;
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    ::unsetenv("DISPLAY");
    return true;
  }
  // Ends the compositor abruptly, as a crash would.
  void stop() { sway_.reset(); }
  ~Sway() {
    sway_.reset();
    fs::remove_all(dir_);
  }

 private:
  fs::path dir_;
  std::unique_ptr<ChildProcess> sway_;
};

// The clipboard's text, or its content of another type.
std::string clipboard(const std::string& type = "text") {
  return runToEnd({"wl-paste", "--no-newline", "--type", type});
}

bool clipboardBecomes(const std::string& expected, const std::string& type = "text") {
  return becomes([&] { return clipboard(type); }, expected);
}

class WaylandAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sway >/dev/null && command -v wl-copy >/dev/null") != 0) {
      GTEST_SKIP() << "sway and wl-clipboard are not installed";
    }
    ASSERT_TRUE(sway_.start());
  }

  // A test window (arguments as clients/wayland_test_window.c takes them), focused.
  std::unique_ptr<ChildProcess> focusedWindow(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), WAYLAND_TEST_WINDOW);
    auto window = std::make_unique<ChildProcess>(std::move(arguments));
    EXPECT_EQ(window->readLine(), "ready");
    return window;
  }

  // A focused test window and the agent, both ready.
  void startWindowAndAgent(const std::string& mode = "") {
    window_ = focusedWindow({"selected in the window", "deskagent-test-window", mode});
    startAgent();
    // Its virtual keyboard gives the seat a keyboard, and the window the focus.
    ASSERT_EQ(window_->readLineStartingWith("focus in"), "focus in");
  }

  void startAgent() {
    agent_ = std::make_unique<AgentProcess>();
    ASSERT_EQ(agent_->readLine(), R"({"type":"ready"})");
    EXPECT_EQ(json::parse(agent_->readLine().value_or("{}"))["accessibility"], true);
  }

  json next(const std::string& type) { return agent_->nextJson(R"({"type":")" + type + "\""); }
  void send(const json& command) { ASSERT_TRUE(agent_->send(command)); }

  Sway sway_;
  std::unique_ptr<ChildProcess> window_;
  std::unique_ptr<AgentProcess> agent_;
};

TEST_F(WaylandAgentTest, PastesAndReadsThroughTheChordsAndGivesTheClipboardBack) {
  // The user's last copy; wl-copy holds it in the foreground until someone else copies.
  ChildProcess user({"wl-copy", "--foreground", "--", "the user's own"});
  ASSERT_TRUE(clipboardBecomes("the user's own"));
  startWindowAndAgent();
  send({{"type", "paste"}, {"text", "héllo ✓ wörld"}});
  // Control+V and nothing else; the text is marked for clipboard managers as not to keep.
  EXPECT_EQ(window_->readLineStartingWith("key v"), "key v 1 0");
  EXPECT_EQ(window_->readLineStartingWith("pasted: "), "pasted: héllo ✓ wörld hint: secret");
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_TRUE(clipboardBecomes("the user's own"));
  send({{"type", "read-selection"}});
  EXPECT_EQ(next("selection"),
            json({{"type", "selection"}, {"ok", true}, {"text", "selected in the window"}}));
  EXPECT_TRUE(clipboardBecomes("the user's own"));

  // Not only text comes back.
  const std::string png("\x89PNG\r\n\x1a\n\0\x01\xfe\xff", 12);
  ChildProcess image({"wl-copy", "--foreground", "--type", "image/png"});
  image.write(png);
  image.closeStdin();
  ASSERT_TRUE(clipboardBecomes(png, "image/png"));
  send({{"type", "paste"}, {"text", "more"}});
  EXPECT_EQ(window_->readLineStartingWith("pasted: "), "pasted: more hint: secret");
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_TRUE(clipboardBecomes(png, "image/png"));

  // A terminal, known by its app id, gets Control+Shift+V; with nothing selected, it copies
  // nothing.
  auto terminal = focusedWindow({"", "foot"});
  ASSERT_EQ(terminal->readLineStartingWith("focus in"), "focus in");
  send({{"type", "read-selection"}});
  EXPECT_EQ(next("selection"), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));
  EXPECT_EQ(clipboard("image/png"), png);
  send({{"type", "paste"}, {"text", "ls -l"}});
  EXPECT_EQ(terminal->readLineStartingWith("key V"), "key V 1 1");
  EXPECT_EQ(terminal->readLineStartingWith("pasted: "), "pasted: ls -l hint: secret");
}

// The chord's keys are looked up in the user's layout, which the agent learns from the seat; the
// Shift the user holds on that keyboard does not turn it into Control+Shift+V.
TEST_F(WaylandAgentTest, TheChordFollowsTheUsersLayout) {
  window_ = focusedWindow({"selected in the window", "deskagent-test-window", "", "us", "dvorak"});
  ASSERT_EQ(window_->readLineStartingWith("keymap "), "keymap English (Dvorak)");
  startAgent();
  send({{"type", "paste"}, {"text", "in dvorak"}});
  // The keymap the window hears the chord in is the one the agent gave its keyboard.
  std::string keymap;
  std::optional<std::string> line;
  while ((line = window_->readLine()) && !line->starts_with("key v")) {
    if (line->starts_with("keymap ")) keymap = *line;
  }
  EXPECT_EQ(line, "key v 1 0");
  EXPECT_EQ(keymap, "keymap English (Dvorak)");
}

// A clipboard whose owner never gives its content cannot be saved, so it is never replaced; after
// the compositor has gone, the agent says it can no longer paste, and still ends cleanly.
TEST_F(WaylandAgentTest, WhatCannotBeDoneSafelyIsRefused) {
  startWindowAndAgent("stuck");
  ASSERT_EQ(window_->readLineStartingWith("copied: "), "copied: selected in the window");
  send({{"type", "paste"}, {"text", "dictated"}});
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", false}, {"reason", "clipboard"}}));
  EXPECT_EQ(runToEnd({"wl-paste", "--list-types"}), "text/plain;charset=utf-8\n");

  sway_.stop();
  send({{"type", "paste"}, {"text", "dictated"}});
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", false}, {"reason", "accessibility"}}));
  agent_->closeStdin();
  EXPECT_EQ(agent_->wait(), 0);
  EXPECT_EQ(agent_->readAllStderr(), "");
}

}  // namespace
}  // namespace deskagent::testing
