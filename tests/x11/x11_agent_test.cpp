// The built agent end to end on an X server of the test's own: commands over its pipes, the
// desktop driven by real X clients (an XTEST key presser, test windows, xclip).

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "x11/x11_harness.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

constexpr unsigned kControlMask = 4;

std::string clipboard(const std::string& type = "UTF8_STRING") {
  return runToEnd({"xclip", "-o", "-selection", "clipboard", "-t", type});
}

// Asks until the clipboard reads `expected` (restores come a moment after the event).
bool clipboardBecomes(const std::string& expected, const std::string& type = "UTF8_STRING") {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (clipboard(type) == expected) return true;
    ::usleep(20000);
  }
  return false;
}

// The user's last copy, owning CLIPBOARD once this returns.
std::unique_ptr<ChildProcess> userClipboard(const std::string& bytes,
                                            const std::string& type = "UTF8_STRING") {
  auto xclip = xclipCopy(bytes, type);
  clipboardBecomes(bytes, type);
  return xclip;
}

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

json key(const char* phase, int code) {
  return json{{"type", "key"}, {"phase", phase}, {"keyCode", code}};
}

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

  void send(const json& command) { agent_->write(command.dump() + "\n"); }
  // Sends a command that has no answer, and waits until the agent has taken it: commands are
  // served in order, so the answer to a request sent after it is the sign. Keys pressed before
  // that would race the command.
  void sendAndSettle(const json& command) {
    send(command);
    send({{"type", "permissions"}});
    EXPECT_EQ(next()["type"], "permissions");
  }

  static json parsed(const std::optional<std::string>& line) {
    return line ? json::parse(*line) : json{{"type", "nothing"}};
  }
  json next() { return parsed(agent_->readLine()); }
  // The next event of `type`, passing over the others (every event line begins with its type).
  json nextOfType(const std::string& type) {
    return parsed(agent_->readLineStartingWith(R"({"type":")" + type + '"', 15s));
  }

  XServer server_;
  std::unique_ptr<AgentProcess> agent_;
  std::string inheritedFiles_;
};

TEST_F(AgentOnX, WatchReportsThePressesAndReleasesOfExactlyTheWatchedKey) {
  send({{"type", "watch"}, {"keyCode", 61}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  press({"+Alt_R", "-Alt_R"});
  EXPECT_EQ(next(), key("down", 61));
  EXPECT_EQ(next(), key("up", 61));
  // Left Option says nothing: the next lines are the right key's.
  press({"+Alt_L", "-Alt_L", "+Alt_R", "-Alt_R"});
  EXPECT_EQ(next(), key("down", 61));
  EXPECT_EQ(next(), key("up", 61));

  // Left Option watched while Right Option is held: its own down and up.
  sendAndSettle({{"type", "watch"}, {"keyCode", 58}});
  press({"+Alt_R", "+Alt_L", "-Alt_L", "-Alt_R", "+Alt_L", "-Alt_L"});
  EXPECT_EQ(next(), key("down", 58));
  EXPECT_EQ(next(), key("up", 58));
  EXPECT_EQ(next(), key("down", 58));
  EXPECT_EQ(next(), key("up", 58));

  // Caps Lock is down while locked, whatever its key does.
  sendAndSettle({{"type", "watch"}, {"keyCode", 57}});
  press({"+Caps_Lock", "-Caps_Lock"});
  EXPECT_EQ(next(), key("down", 57));
  press({"+Caps_Lock", "-Caps_Lock"});
  EXPECT_EQ(next(), key("up", 57));

  // Unwatched keys are silent; watching again needs no new tap.
  sendAndSettle({{"type", "unwatch"}});
  press({"+Alt_R", "-Alt_R"});
  sendAndSettle({{"type", "watch"}, {"keyCode", 62}});
  press({"+Control_R", "-Control_R"});
  EXPECT_EQ(next(), key("down", 62));
  EXPECT_EQ(next(), key("up", 62));
}

TEST_F(AgentOnX, PasteReachesTheFocusedWindowAndTheUsersClipboardComesBack) {
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  ASSERT_EQ(window.readLine(), "ready");
  auto user = userClipboard("the user's own text");

  send({{"type", "paste"}, {"text", "dictated words"}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  // Control+V and nothing else; the text is marked for clipboard managers as not to keep.
  EXPECT_EQ(window.readLineStartingWith("paste "),
            pasteLine(kControlMask, "dictated words", "secret"));
  EXPECT_TRUE(clipboardBecomes("the user's own text"));

  // Not only text comes back.
  std::string png("\x89PNG\r\n\x1a\n\0\x01\xfe\xff", 12);
  auto image = userClipboard(png, "image/png");
  send({{"type", "paste"}, {"text", "more words"}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_EQ(window.readLineStartingWith("paste "), pasteLine(kControlMask, "more words", "secret"));
  EXPECT_TRUE(clipboardBecomes(png, "image/png"));
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
  EXPECT_EQ(ignoring.readLineStartingWith("key c"), "key c " + std::to_string(kControlMask));
  EXPECT_EQ(clipboard(), "the user's own text");
}

TEST_F(AgentOnX, AServerThatGoesAwayAndComesBack) {
  send({{"type", "watch"}, {"keyCode", 61}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  server_.stop();
  json permissions = nextOfType("permissions");
  EXPECT_EQ(permissions["accessibility"], false);
  EXPECT_EQ(permissions["inputMonitoring"], false);
  // The tap is gone with the server; the retry takes over.
  json refused{{"type", "tap"}, {"active", false}, {"reason", "permission"}};
  EXPECT_EQ(nextOfType("tap"), refused);
  EXPECT_EQ(nextOfType("tap"), refused);

  ASSERT_TRUE(server_.restart());
  json tap = nextOfType("tap");
  while (tap == refused) tap = nextOfType("tap");
  EXPECT_EQ(tap, json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  press({"+Alt_R", "-Alt_R"});
  EXPECT_EQ(nextOfType("key"), key("down", 61));
  EXPECT_EQ(nextOfType("key"), key("up", 61));
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
  pasteThenSignal({SIGTERM, SIGINT});
  EXPECT_EQ(agent_->wait(), -1);
  agent_.reset();
}

// A host that stops reading just after a paste, while far more events wait than a pipe holds:
// the agent goes on answering other applications' clipboard requests and puts the user's
// clipboard back on time, and once its input ends it exits within its bound, the unread events
// dropped.
TEST_F(AgentOnX, AHostThatStopsReadingHoldsUpNeitherTheClipboardNorTheExit) {
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  ASSERT_EQ(window.readLine(), "ready");
  auto user = userClipboard("the user's own text");
  std::string commands = json({{"type", "paste"}, {"text", "dictated words"}}).dump() + "\n";
  for (int i = 0; i < 3000; ++i) commands += "{\"type\":\"permissions\"}\n";
  agent_->write(commands);

  EXPECT_EQ(window.readLineStartingWith("paste "),
            pasteLine(kControlMask, "dictated words", "secret"));
  auto asked = std::chrono::steady_clock::now();
  ChildProcess other({"xclip", "-o", "-selection", "clipboard"});
  EXPECT_NE(other.readAll(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
  EXPECT_TRUE(clipboardBecomes("the user's own text"));

  agent_->closeStdin();
  EXPECT_EQ(agent_->wait(2500ms), 0);
  // What the pipe held was written in order; the rest was dropped.
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_EQ(next()["type"], "permissions");
}

// An authorization file holding one MIT-MAGIC-COOKIE-1 for any address and display.
void writeCookieFile(const std::string& path) {
  auto field = [](std::string bytes) {
    std::string out{static_cast<char>(bytes.size() >> 8), static_cast<char>(bytes.size() & 0xff)};
    return out + bytes;
  };
  std::string cookie(16, '\0');
  for (std::size_t i = 0; i < cookie.size(); ++i) cookie[i] = static_cast<char>(i * 37 + 11);
  std::ofstream(path, std::ios::binary) << std::string("\xff\xff", 2) << field("") << field("")
                                        << field("MIT-MAGIC-COOKIE-1") << field(cookie);
}

TEST(AgentOnXThatRefusesIt, RunsHeadlessAndWritesNothingToStderr) {
  std::string cookies = "/tmp/deskagent-cookie-" + std::to_string(::getpid());
  writeCookieFile(cookies);
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
  agent.write("{\"type\":\"watch\",\"keyCode\":61}\n{\"type\":\"paste\",\"text\":\"x\"}\n");
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", false}, {"reason", "permission"}}));
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", false}, {"reason", "accessibility"}}));
  agent.closeStdin();
  EXPECT_EQ(agent.wait(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
  ::unlink(cookies.c_str());  // the server reads it again at times
}

}  // namespace
}  // namespace deskagent::testing
