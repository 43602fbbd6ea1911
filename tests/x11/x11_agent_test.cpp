// The built agent end to end on an X server of the test's own: commands over its pipes, the
// desktop driven by real X clients (an XTEST key presser, test windows, xclip).

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "x11/x11_harness.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

constexpr unsigned kControlMask = 4;

// The files (not pipes, sockets or devices) a process holds open, one per line, in order.
std::string openFiles(pid_t pid) {
  std::string files;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::error_code error;
    auto target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.starts_with("/") && !target.starts_with("/dev/")) files += target + "\n";
  }
  return files;
}

// Every target of the clipboard but the protocol's own, as another client reads it.
std::map<std::string, std::string> everyTarget() {
  std::map<std::string, std::string> out;
  std::istringstream names(clipboard("TARGETS"));
  for (std::string name; std::getline(names, name);) {
    if (name != "TARGETS" && name != "TIMESTAMP" && name != "MULTIPLE") out[name] = clipboard(name);
  }
  return out;
}

// 50 MiB, as users copy out of logs; a sanitizer slows the agent's side tenfold, and its 5 s
// for a read that keeps moving would not hold as much.
constexpr std::size_t kLargeText = kSanitized ? 5u << 20 : 50u << 20;

class AgentOnX : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.start()) GTEST_SKIP() << "no Xvfb";
    server_.makeCurrent();
    startAgent();
  }
  void startAgent() {
    agent_ = std::make_unique<AgentProcess>();
    ASSERT_EQ(next(), json({{"type", "ready"}}));
    inheritedFiles_ = openFiles(agent_->pid());  // what the test runner left open for us
    json permissions = next();
    EXPECT_EQ(permissions["accessibility"], true);
    EXPECT_EQ(permissions["inputMonitoring"], true);
  }
  void TearDown() override {
    if (!agent_) return;
    if (!agent_->wait(0ms)) {
      EXPECT_EQ(openFiles(agent_->pid()), inheritedFiles_);
    }
    agent_->closeStdin();
    EXPECT_EQ(agent_->wait(), 0);
    EXPECT_EQ(agent_->readAllStderr(), "");
  }

  void send(const json& command) { agent_->send(command); }
  json next() { return agent_->nextJson(); }

  XServer server_;
  std::unique_ptr<AgentProcess> agent_;
  std::string inheritedFiles_;
};

TEST_F(AgentOnX, WatchReportsThePressesAndReleasesOfExactlyTheWatchedKey) {
  send({{"type", "watch"}, {"keyCode", 61}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  // Left Option says nothing: the next lines are the right key's.
  press({"+Alt_L", "-Alt_L", "+Alt_R", "-Alt_R"});
  EXPECT_EQ(next(), json({{"type", "key"}, {"phase", "down"}, {"keyCode", 61}}));
  EXPECT_EQ(next(), json({{"type", "key"}, {"phase", "up"}, {"keyCode", 61}}));
  send({{"type", "permissions"}});
  EXPECT_EQ(next().at("type"), "permissions");  // and no third key line before it
}

// A toolkit that takes 0.4 s to serve a 5 MiB image among a dozen targets, then a 50 MiB text
// sent in INCR chunks while the machine is busy: the paste saves all of it and puts it back, the
// image once, as PNG (its JPEG was the same image, encoded again).
TEST_F(AgentOnX, EveryTargetOfASlowOrLargeClipboardComesBackWhole) {
  ChildProcess owner({X11_TEST_WINDOW, "--mode", "offer"});
  ASSERT_EQ(owner.readLine(), "ready");
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  ASSERT_EQ(window.readLine(), "ready");
  auto before = everyTarget();
  ASSERT_EQ(before.size(), 12u);
  // The second time over the clipboard the agent itself put back.
  for (int round = 0; round < 2; ++round) {
    send({{"type", "paste"}, {"text", "over an image"}});
    EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
    EXPECT_EQ(window.readLineStartingWith("paste "),
              pasteLine(kControlMask, "over an image", "secret"));
    ASSERT_TRUE(clipboardBecomes(before.at("image/png"), "image/png"));
    auto after = everyTarget();  // as the agent lists them
    for (const auto& [target, bytes] : before) {
      if (target != "image/jpeg") {
        EXPECT_TRUE(after[target] == bytes) << target;
      }
    }
    EXPECT_FALSE(after.count("image/jpeg"));
  }

  std::string large;
  while (large.size() < kLargeText) large += "line " + std::to_string(large.size()) + "\n";
  auto user = userClipboard(large);
  {
    // Every core busy, as with a build beside the user's session.
    ChildProcess busy1({"sh", "-c", "while :; do :; done"}),
        busy2({"sh", "-c", "while :; do :; done"});
    send({{"type", "paste"}, {"text", "over a large text"}});
    EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
    EXPECT_TRUE(window.readLineStartingWith("paste "));
  }
  EXPECT_TRUE(clipboardBecomes(large, "UTF8_STRING", 30s));  // tens of MiB to serve and compare
}

TEST_F(AgentOnX, ReadSelectionCopiesWithControlCAndPutsTheClipboardBack) {
  auto user = userClipboard("the user's own text");
  {
    ChildProcess window({X11_TEST_WINDOW, "--mode", "copy", "--text", "chosen words"});
    ASSERT_EQ(window.readLine(), "ready");
    send({{"type", "read-selection"}});
    EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", true}, {"text", "chosen words"}}));
    EXPECT_TRUE(clipboardBecomes("the user's own text"));
  }
  ChildProcess ignoring({X11_TEST_WINDOW, "--mode", "ignore"});
  ASSERT_EQ(ignoring.readLine(), "ready");
  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));

  // The user copies within the second the agent still watches for a late copy: theirs stays.
  // A second read waits for the first to end, so its answer says the watch is over.
  auto newer = xclipCopy("copied by the user");
  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));
  EXPECT_EQ(clipboard(), "copied by the user");
}

// A default xterm binds no clipboard paste key and passes Control+Shift+C on as ^C. Its
// selection is read from PRIMARY, the paste goes through PRIMARY and Shift+Insert, and the
// program in it never sees an interrupt.
TEST_F(AgentOnX, AnXtermIsReadThroughPrimaryAndPastedIntoWithShiftInsert) {
  if (::access("/usr/bin/xterm", X_OK) != 0) GTEST_SKIP() << "no xterm";
  std::string dir = "/tmp/deskagent-xterm-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  auto user = userClipboard("the user's own text");
  std::string job = "trap 'echo >> " + dir + "/interrupted' INT; echo chosen words; echo > " + dir +
                    "/ready; cat > " + dir + "/typed";
  ChildProcess xterm({"xterm", "-geometry", "40x4+0+0", "-fn", "fixed", "-e", "sh", "-c", job});
  ASSERT_TRUE(becomes([&] { return runToEnd({"cat", dir + "/ready"}); }, "\n"));
  // The pointer over it (focus follows the pointer here): nothing selected yet, then a double
  // click selects a word.
  press({"move:12,8"});
  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));
  auto selected = [&] {
    press({"click:1", "click:1"});  // again should the window have come up late
    return becomes([&] { return clipboard("UTF8_STRING", "primary"); }, "chosen", 2s);
  };
  ASSERT_TRUE(selected() || selected() || selected());

  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", true}, {"text", "chosen"}}));
  send({{"type", "paste"}, {"text", "dictated words\n"}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_TRUE(becomes([&] { return runToEnd({"cat", dir + "/typed"}); }, "dictated words\n"));
  // Both selections as the user left them.
  EXPECT_TRUE(becomes([&] { return clipboard("UTF8_STRING", "primary"); }, "chosen"));
  EXPECT_EQ(clipboard(), "the user's own text");
  EXPECT_EQ(runToEnd({"cat", dir + "/interrupted"}), "");
  std::filesystem::remove_all(dir);
}

// The ways a host, a service manager or a terminal ends a helper, a moment after a paste: the
// paste's restore runs and the clipboard manager is handed the user's clipboard, as at the end of
// input. A second signal ends the agent at once.
TEST_F(AgentOnX, ASignalEndsTheAgentAsTheEndOfInputDoes) {
  ChildProcess manager({X11_CLIPBOARD_MANAGER});
  ASSERT_EQ(manager.readLine(), "ready");
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  ASSERT_EQ(window.readLine(), "ready");
  auto user = userClipboard("the user's own text");
  auto pasteThenSignal = [&](std::initializer_list<int> signals) {
    send({{"type", "paste"}, {"text", "dictated words"}});
    EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
    for (int signal : signals) ::kill(agent_->pid(), signal);
  };
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    pasteThenSignal({signal});
    EXPECT_EQ(agent_->wait(), 0);
    EXPECT_EQ(agent_->readAllStderr(), "");
    // The agent is gone: what the clipboard holds now, the manager holds.
    EXPECT_EQ(clipboard(), "the user's own text");
    startAgent();
  }
  // ThreadSanitizer's runtime takes every signal first and hands it on at a moment of its own
  // choosing, so a second signal ending the process at once is checked in the other builds.
#if defined(__SANITIZE_THREAD__)
  constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
  constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
  constexpr bool kThreadSanitizer = false;
#endif
  if (!kThreadSanitizer) {
    pasteThenSignal({SIGTERM, SIGINT});
    EXPECT_EQ(agent_->wait(), -1);
  }
  agent_.reset();
}

// A paste, then a host that stops reading while far more events wait than a pipe holds. A
// clipboard manager reads every new clipboard at once, a busy application 0.6 s after Control+V:
// only the application's read ends the wait, so it gets the dictated text. Meanwhile the agent
// answers other applications' clipboard requests and puts the user's clipboard back, and once its
// input ends it exits within its bound, the unread events dropped.
TEST_F(AgentOnX, AHostThatStopsReadingHoldsUpNeitherTheClipboardNorTheExit) {
  ChildProcess manager({X11_CLIPBOARD_MANAGER, "--reads"});
  ASSERT_EQ(manager.readLine(), "ready");
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste", "--delay", "600"});
  ASSERT_EQ(window.readLine(), "ready");
  auto user = userClipboard("the user's own text");
  send({{"type", "paste"}, {"text", "dictated words"}});
  // The manager reads the text as soon as it is there, and the paste is answered with the chord.
  std::string read = "read " + x11_test::hex("dictated words");
  EXPECT_EQ(manager.readLineStartingWith(read), read);
  std::string commands;
  for (int i = 0; i < 3000; ++i) commands += "{\"type\":\"permissions\"}\n";
  agent_->write(commands);
  auto asked = std::chrono::steady_clock::now();
  EXPECT_NE(runToEnd({"xclip", "-o", "-selection", "clipboard"}), "");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
  // The text; its marker may or may not still be there when the window asks for it next.
  std::string pasted = pasteLine(kControlMask, "dictated words", "");
  pasted.erase(pasted.rfind(' ') + 1);
  EXPECT_TRUE(window.readLineStartingWith("paste ").value_or("").starts_with(pasted))
      << "the window pasted something else";
  EXPECT_TRUE(clipboardBecomes("the user's own text"));

  agent_->closeStdin();
  EXPECT_EQ(agent_->wait(2500ms), 0);
  // What the pipe held was written in order; the rest was dropped.
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_EQ(next()["type"], "permissions");
}

TEST(AgentOnXThatRefusesIt, RunsHeadlessAndWritesNothingToStderr) {
  // An authorization file holding one MIT-MAGIC-COOKIE-1 for any address and display.
  std::string cookies = "/tmp/deskagent-cookie-" + std::to_string(::getpid());
  std::ofstream(cookies, std::ios::binary)
      << std::string("\xff\xff\0\0\0\0\0\x12MIT-MAGIC-COOKIE-1\0\x10", 28) << std::string(16, 'k');
  XServer server;
  if (!server.start({"-auth", cookies})) GTEST_SKIP() << "no Xvfb";
  server.makeCurrent();
  ::setenv("XAUTHORITY", "/dev/null", 1);  // we hold no cookie: the server refuses us
  AgentProcess agent;
  ::unsetenv("XAUTHORITY");
  auto next = [&] { return json::parse(agent.readLine().value_or("{}")); };
  EXPECT_EQ(next(), json({{"type", "ready"}}));
  EXPECT_EQ(next(), json({{"type", "permissions"},
                          {"accessibility", false},
                          {"inputMonitoring", false},
                          {"microphone", "unknown"}}));
  agent.closeStdin();
  EXPECT_EQ(agent.wait(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
  ::setenv("XAUTHORITY", "/dev/null", 1);
  std::string check = runToEnd({agentBinary(), "--check"});
  ::unsetenv("XAUTHORITY");
  EXPECT_NE(check.find("the server refused the agent: Authorization required"), std::string::npos)
      << check;
  ::unlink(cookies.c_str());  // the server reads it again at times
}

// An agent started before its display (an autostart racing the X server) takes the display once
// it is up and reports it as "permissions", and the watched key's tap follows; --check says why
// it waits, and then what it found.
TEST(AgentOnXThatComesLate, IsTakenOnceItIsUpAndCheckSaysWhy) {
  XServer server;
  if (!server.start()) GTEST_SKIP() << "no Xvfb";
  server.makeCurrent();
  server.stop();
  std::string waiting = runToEnd({agentBinary(), "--check"});
  EXPECT_NE(waiting.find("looks again every 1.5 s"), std::string::npos) << waiting;

  AgentProcess agent;
  auto next = [&] { return json::parse(agent.readLine().value_or("{}")); };
  EXPECT_EQ(next(), json({{"type", "ready"}}));
  EXPECT_EQ(next()["accessibility"], false);
  agent.send({{"type", "watch"}, {"keyCode", 61}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", false}, {"reason", "permission"}}));
  ASSERT_TRUE(server.restart());
  json line = next();
  while (line["type"] == "tap" && line["active"] == false) line = next();  // the 2 s retries
  EXPECT_EQ(line, json({{"type", "permissions"},
                        {"accessibility", true},
                        {"inputMonitoring", true},
                        {"microphone", "unknown"}}));
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));

  std::string up = runToEnd({agentBinary(), "--check"});
  for (const char* part : {"XTEST 2.2", "XInput 2.", "the X11 backend", "accessibility: true"}) {
    EXPECT_NE(up.find(part), std::string::npos) << part << " in " << up;
  }
  agent.closeStdin();
  EXPECT_EQ(agent.wait(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
}

}  // namespace
}  // namespace deskagent::testing
