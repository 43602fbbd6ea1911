// deskagent.exe end to end under Wine: commands over its pipes as a host sends them, on an Xvfb
// of the tests' own that Wine's virtual desktop lives on, with the desktop driven through X
// (XTEST key presses, xclip as the user's other applications) and Wine's own programs (notepad,
// wordpad, cmd in Wine's console) as the targets of pastes and copies, looked at through
// win_probe; win_owner for the clipboard owners Wine has no program for; our own window where a
// test needs to see which keys arrived.

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

// The clipboard as X clients see it, through Wine's bridge. The bridge can leave a request
// unanswered until another one comes (Wine 8, a request that arrives as it takes the selection
// over for a new Windows owner), and xclip waits for that answer for ever: a read is given 2 s
// and then asked again.
std::string clipboard() {
  return runToEnd({"timeout", "2", "xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"});
}

bool clipboardBecomes(const std::string& expected) {
  return becomes([] { return clipboard(); }, expected);
}

// A folder of the test's own for the files Wine's programs write, gone with the test.
class Folder {
 public:
  Folder() { created_ = ::mkdtemp(path_.data()) != nullptr; }
  ~Folder() {
    if (created_) std::filesystem::remove_all(path_);
  }
  bool created() const { return created_; }
  std::filesystem::path file(const std::string& name) const { return path_ + "/" + name; }
  // The path as Windows programs name it: Wine's Z: is the root.
  static std::string forWine(const std::filesystem::path& path) {
    std::string name = "Z:" + path.string();
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
  }

 private:
  std::string path_ = "/tmp/deskagent-wine-XXXXXX";
  bool created_ = false;
};

class AgentUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WineDesktop::ready) GTEST_SKIP() << "no Xvfb or Wine";
  }
  void TearDown() override {
    if (!agent_) return;
    agent_->closeStdin();
    expectCleanExit();
  }
  // The agent's faults end it with status 3 (its process guard). A signal means Wine ended the
  // process itself: its server's SIGKILL for a process still there a while after its last thread
  // went, or a fault it could not hand to the agent. Wine's errors are in the prefix's log.
  void expectCleanExit() {
    EXPECT_EQ(agent_->wait(15s), 0)
        << "signal " << agent_->endingSignal() << ", see " WINE_PREFIX ".log";
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
  expectCleanExit();
  EXPECT_TRUE(clipboardBecomes("the user's own text"));
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
  Folder folder;
  ASSERT_TRUE(folder.created());
  const auto out = folder.file("out.txt");
  send({{"type", "paste"}, {"text", "echo pasted>" + Folder::forWine(out)}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  press({"+Return", "-Return"});
  EXPECT_TRUE(becomes([&] { return fileText(out); }, "pasted\r\n", 20s));
  EXPECT_TRUE(clipboardBecomes("the user's own text"));
  probe({"close", "WineConsoleClass"});
  EXPECT_TRUE(console->wait(20s));
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

// A program of the user's that copies (win_owner), started with `arguments`; the line it says
// once it has.
std::unique_ptr<ChildProcess> owner(std::vector<std::string> arguments, const std::string& line) {
  arguments.insert(arguments.begin(), WIN_OWNER);
  auto program = wineProgram(std::move(arguments));
  EXPECT_EQ(program->readLine(60s), line);
  return program;
}

// Whether the clipboard holds, byte for byte, what `win_owner copy KIND` copied: "same" or what
// differs. Comparing 210 MB takes Wine seconds, on a loaded machine tens of them.
std::optional<std::string> ownersCopy(const std::string& kind) {
  ChildProcess check(underWine({WIN_OWNER, "check", kind}));
  check.closeStdin();
  return check.readLine(90s);
}

// Windows' own conversions of what the owner offers (ANSI and OEM text, a second bitmap) are not
// saved: 68 MB of text or a 70 MB bitmap comes back as it was, no more than its owner offered.
TEST_F(AgentUnderWine, LargeContentComesBackWholeAndContentPastTheBudgetIsLeftAlone) {
  startAgent();
  auto notepad = wineProgram({"notepad"});
  ASSERT_TRUE(focused("Notepad"));
  for (const std::string kind : {"cjk", "private", "dib", "big"}) {
    auto copier = owner({"copy", kind}, "ready");
    send({{"type", "paste"}, {"text", "dictated"}});
    if (kind == "big") {  // 210 MB: more than a snapshot holds
      EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", false}, {"reason", "clipboard"}}));
    } else {
      EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}})) << kind;
    }
    EXPECT_TRUE(becomes([&] { return ownersCopy(kind); }, "same", 90s)) << kind;
  }
}

TEST_F(AgentUnderWine, AHeldClipboardOrAnOwnerThatStopsAnsweringHoldsUpNeitherKeysNorTheExit) {
  startAgent();
  // A program that reads the dictated text and keeps the clipboard open for 5 s (a clipboard
  // manager, say): the user's clipboard comes back when it lets go, however long that takes.
  auto user = userClipboard("the user's own text");
  auto reader = owner({"hold-read", "5000"}, "ready");
  send({{"type", "paste"}, {"text", "dictated"}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_EQ(reader->readLine(20s), "holding");
  EXPECT_EQ(reader->readLine(20s), "released");
  EXPECT_TRUE(clipboardBecomes("the user's own text"));

  send({{"type", "watch"}, {"keyCode", 61}});
  EXPECT_EQ(next(), json({{"type", "tap"}, {"active", true}, {"listening", true}}));
  const json down{{"type", "key"}, {"phase", "down"}, {"keyCode", 61}};
  const json up{{"type", "key"}, {"phase", "up"}, {"keyCode", 61}};
  const json refused{{"type", "paste"}, {"ok", false}, {"reason", "clipboard"}};
  // Held open by another program past the agent's patience: the paste is refused, and the keys
  // pressed while the agent waits are reported as they come, before that answer (the clipboard
  // holds the agent's own restore, which it saves from memory).
  auto holder = owner({"hold", "3000"}, "holding");
  send({{"type", "paste"}, {"text", "dictated"}});
  press({"+Alt_R", "-Alt_R"});
  EXPECT_EQ(next(), down);
  EXPECT_EQ(next(), up);
  EXPECT_EQ(next(), refused);
  EXPECT_EQ(holder->readLine(20s), "released");

  // An owner that promised its text and then stops serving its messages: the same answer, the
  // keys meanwhile, and the exit, all before it wakes; what it promised is still there then.
  auto hung = owner({"hang", "15000"}, "ready");
  send({{"type", "paste"}, {"text", "dictated"}});
  press({"+Alt_R", "-Alt_R"});
  std::vector<json> events{next(), next(), next()};
  auto answer = std::find(events.begin(), events.end(), refused);
  ASSERT_NE(answer, events.end());
  events.erase(answer);
  EXPECT_EQ(events, (std::vector<json>{down, up}));
  agent_->closeStdin();
  expectCleanExit();
  agent_.reset();
  EXPECT_EQ(hung->pollLine(), std::nullopt);
  EXPECT_EQ(hung->readLine(30s), "awake");
  EXPECT_TRUE(clipboardBecomes("owner's text"));
}

// OLE's own formats are not put back: a bold copy in wordpad, a paste of ours into notepad, then
// the user's Control+V in wordpad pastes bold, as it does with no agent in between.
TEST_F(AgentUnderWine, BoldCopiedInWordpadStaysBoldThroughAPaste) {
  startAgent();
  Folder folder;
  ASSERT_TRUE(folder.created());
  const auto doc = folder.file("doc.rtf");
  std::ofstream(doc) << "{\\rtf1\\ansi {\\b bold words}\\par}";
  auto wordpad = wineProgram(
      {"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe", Folder::forWine(doc)});
  ASSERT_TRUE(focused("WORDPADTOP"));
  probe({"select", "WORDPADTOP", "RICHEDIT20W"});
  probe({"keys", "WORDPADTOP", "+a2", "+43", "-43", "-a2"});  // the user's Control+C
  // Wine hands X the whole of wordpad's text buffer: its terminating null and what follows.
  auto copied = [] { return std::optional<std::string>(clipboard().substr(0, 10)); };
  EXPECT_TRUE(becomes(copied, "bold words"));
  auto notepad = wineProgram({"notepad"});
  ASSERT_TRUE(focused("Notepad"));
  send({{"type", "paste"}, {"text", "dictated"}});
  EXPECT_EQ(next(), json({{"type", "paste"}, {"ok", true}}));
  auto notepadText = [] { return probe({"text", "Notepad", "Edit"}); };
  EXPECT_TRUE(becomes(notepadText, x11_test::hex("dictated") + "\n"));
  EXPECT_TRUE(becomes(copied, "bold words"));
  // The user's Control+End, Control+V and Control+S: the document wordpad saves tells.
  probe({"keys", "WORDPADTOP", "+a2", "+23", "-23", "+56", "-56", "+53", "-53", "-a2"});
  auto pasted = [&] {
    bool bold = fileText(doc).find("bold wordsbold words") != std::string::npos;
    return std::optional<std::string>(bold ? "bold" : fileText(doc));
  };
  EXPECT_TRUE(becomes(pasted, "bold", 20s)) << fileText(doc);
}

}  // namespace
}  // namespace deskagent::testing
