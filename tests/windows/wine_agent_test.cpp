// deskagent.exe end to end under Wine: commands over its pipes as a host sends them, on an Xvfb
// of the tests' own that Wine's virtual desktop lives on, with the desktop driven through X
// (XTEST key presses, xclip as the user's other applications) and Wine's own programs (notepad,
// cmd in Wine's console) as the targets of pastes and copies, looked at through win_probe; our
// own window where a test needs to see which keys arrived.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "x11/x11_harness.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

// One X server and one Wine server for every test here: Wine's desktop and its helper
// processes are bound to the display they started on.
class WineDesktop : public ::testing::Environment {
 public:
  static inline bool ready = false;

  void SetUp() override {
    if (!server_.start()) return;
    server_.makeCurrent();
    stopWine();  // one left from an earlier run would be on another display
    ready = std::system(WINE_PREFIX_SCRIPT " " WINE_PREFIX " desktop") == 0;
  }
  void TearDown() override { stopWine(); }

 private:
  static void stopWine() {
    [[maybe_unused]] int status =
        std::system("WINEPREFIX=" WINE_PREFIX " /usr/lib/wine/wineserver -k >/dev/null 2>&1");
  }

  XServer server_;
};

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new WineDesktop);

std::vector<std::string> underWine(std::vector<std::string> command) {
  command.insert(command.begin(), {WINE_RUN, WINE_PREFIX});
  return command;
}

// A Windows program of the user's, started on Wine's desktop.
std::unique_ptr<ChildProcess> wineProgram(std::vector<std::string> command) {
  return std::make_unique<ChildProcess>(underWine(std::move(command)));
}

// What win_probe answers (its output, "" when there is no such window).
std::string probe(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), WIN_PROBE);
  return runToEnd(underWine(std::move(arguments)));
}

bool focused(const std::string& windowClass) {
  return probe({"focus", windowClass}) == "ready\n";
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class AgentUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WineDesktop::ready) GTEST_SKIP() << "no Xvfb or Wine";
  }
  void TearDown() override {
    if (!agent_) return;
    agent_->closeStdin();
    EXPECT_EQ(agent_->wait(15s), 0);
  }

  void startAgent() {
    agent_ = std::make_unique<ChildProcess>(underWine({DESKAGENT_BINARY}));
    ASSERT_EQ(next(), json({{"type", "ready"}}));
    EXPECT_EQ(next(), json({{"type", "permissions"},
                            {"accessibility", true},
                            {"inputMonitoring", true},
                            {"microphone", "not-determined"}}));
  }
  void send(const json& command) { agent_->send(command); }
  json next() { return agent_->nextJson("", 20s); }

  // Our Windows application, focused, its EDIT control empty.
  static std::unique_ptr<ChildProcess> targetWindow() {
    auto window = wineProgram({WIN_TEST_WINDOW});
    EXPECT_EQ(window->readLine(30s), "ready");
    return window;
  }

  std::unique_ptr<ChildProcess> agent_;
};

TEST_F(AgentUnderWine, WatchReportsTheKeyPasteTypesControlVAloneAndCtrlCWaitsForTheRestore) {
  startAgent();
  send({{"type", "watch"}, {"keyCode", 61}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  // Left Option says nothing: the next lines are the right key's.
  press({"+Alt_L", "-Alt_L", "+Shift_R", "-Shift_R", "+Alt_R", "-Alt_R"});
  EXPECT_EQ(next(), json({{"type", "key"}, {"phase", "down"}, {"keyCode", 61}}));
  EXPECT_EQ(next(), json({{"type", "key"}, {"phase", "up"}, {"keyCode", 61}}));

  auto window = targetWindow();
  auto user = userClipboard("the user's own text");
  // The chord's own Control is no key of the user's: the watch passes over it. (The tap is there
  // already, so this watch is not answered.)
  send({{"type", "watch"}, {"keyCode", 59}});
  // Nothing selected in the window yet: its copy leaves the clipboard as it was.
  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));
  EXPECT_EQ(window->readLine(20s), "copy C");
  EXPECT_EQ(clipboard(), "the user's own text");
  std::string typed;
  // Plain, with Shift held, with Right Alt held: Control+V alone reaches the window each time.
  const std::vector<std::pair<std::string, std::string>> rows{
      {"", "Grüße, Wörld ✓"}, {"Shift_L", " shifted"}, {"Alt_R", " alt"}};
  for (const auto& [held, text] : rows) {
    if (!held.empty()) press({"+" + held});
    send({{"type", "paste"}, {"text", text}});
    EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
    typed += text;
    EXPECT_EQ(window->readLineStartingWith("paste ", 20s), "paste C " + x11_test::hex(typed))
        << "held: " << held;
    if (!held.empty()) press({"-" + held});
    EXPECT_TRUE(clipboardBecomes("the user's own text")) << "held: " << held;
  }

  // Ctrl+C ends the agent as the end of its input does (the other tests' end): the pending
  // restore runs first.
  send({{"type", "paste"}, {"text", "dictated"}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  ::kill(agent_->pid(), SIGINT);
  EXPECT_EQ(agent_->wait(15s), 0);
  EXPECT_EQ(clipboard(), "the user's own text");
}

TEST_F(AgentUnderWine, NotepadTakesThePasteAndGivesBackItsSelection) {
  startAgent();
  auto user = userClipboard("the user's own text");
  auto notepad = wineProgram({"notepad"});
  ASSERT_TRUE(focused("Notepad"));
  const std::string text = "Grüße, Wörld ✓";
  send({{"type", "paste"}, {"text", text}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  auto notepadText = [] { return probe({"text", "Notepad", "Edit"}); };
  EXPECT_TRUE(becomes(notepadText, x11_test::hex(text) + "\n"));
  EXPECT_TRUE(clipboardBecomes("the user's own text"));

  probe({"select", "Notepad", "Edit"});
  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", true}, {"text", text}}));
  EXPECT_TRUE(clipboardBecomes("the user's own text"));
}

// Control+C in a console interrupts the program inside (an idle cmd under Wine exits), and
// Control+V types ^V there: a console is read as "empty" and pastes through its own menu.
TEST_F(AgentUnderWine, CmdInWinesConsoleIsNeverSentTheCopyChordAndPastesThroughItsMenu) {
  startAgent();
  auto user = userClipboard("the user's own text");
  auto console = wineProgram({"wineconsole", "cmd"});
  ASSERT_TRUE(focused("WineConsoleClass"));
  send({{"type", "read-selection"}});
  EXPECT_EQ(next(), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));

  // What cmd runs after the paste and the user's Return tells that it is alive and got the text.
  std::string dir = "/tmp/deskagent-wine-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::filesystem::path out = dir + "/out.txt";
  std::string windowsPath = "Z:" + out.string();
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  send({{"type", "paste"}, {"text", "echo pasted>" + windowsPath}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  press({"+Return", "-Return"});
  EXPECT_TRUE(becomes([&] { return fileText(out); }, "pasted\r\n", 20s));
  EXPECT_TRUE(clipboardBecomes("the user's own text"));
  probe({"close", "WineConsoleClass"});
  EXPECT_TRUE(console->wait(20s));
  std::filesystem::remove_all(dir);
}

// Under Wine a new thread's own key state reads the lock off while it is on: the hook's start
// must not take the lock's first release for a press.
TEST_F(AgentUnderWine, CapsLockAlreadyOnWhenTheAgentStartsReadsAsOn) {
  auto window = targetWindow();
  // Wine's desktop can drop the first key after it appears: pressed until the window sees the
  // lock go on.
  std::optional<std::string> lock;
  for (int tries = 0; tries < 4 && lock != "caps on"; ++tries) {
    press({"+Caps_Lock", "-Caps_Lock"});
    lock = window->readLineStartingWith("caps ", 5s);
  }
  ASSERT_EQ(lock, "caps on");
  startAgent();
  send({{"type", "watch"}, {"keyCode", 57}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  // Each press must leave the host told what the window sees, starting from "up": the first one,
  // which turns the lock off, says nothing. The window's line comes after the hook has seen the
  // press and the release, so their "key" event comes before the answer to a later command.
  std::string told = "up";
  for (int presses = 0; presses < 3; ++presses) {
    press({"+Caps_Lock", "-Caps_Lock"});
    lock = window->readLineStartingWith("caps ", 20s);
    ASSERT_TRUE(lock);
    std::string phase = *lock == "caps on" ? "down" : "up";
    send({{"type", "permissions"}});
    json line = next();
    if (phase != told) {
      EXPECT_EQ(line, json({{"type", "key"}, {"phase", phase}, {"keyCode", 57}}));
      told = phase;
      line = next();
    }
    EXPECT_EQ(line["type"], "permissions") << line;
  }
}

}  // namespace
}  // namespace deskagent::testing
