// The built agent end to end on GNOME and KDE, headless in a Debian 13 userland
// (desktop_session.hpp): driven as a host drives it, pasting into and reading from real windows
// (a GTK 4 text view, a Qt 6 text edit, the desktops' terminals), with the user's clipboard of
// several types checked byte for byte afterwards and a clipboard manager reading every change.

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "desktop/desktop_session.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

// A file the session writes, as it stands now.
std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool fileHasLine(const std::filesystem::path& path, const std::string& line,
                 std::chrono::seconds timeout = 10s) {
  return becomes(
      [&] {
        return std::to_string(("\n" + contents(path)).find("\n" + line + "\n") !=
                              std::string::npos);
      },
      "1", timeout);
}

class DesktopAgentTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    session_ = std::make_unique<DesktopSession>(GetParam());
    if (!session_->started()) GTEST_SKIP() << "no userland (tests/desktop/userland.sh, as root)";
  }

  std::string desktop() const { return GetParam(); }
  // The test window of this desktop's toolkit, focused, holding `text` selected.
  std::unique_ptr<ChildProcess> window(const std::string& text) {
    auto window = session_->start(
        {"python3", DesktopSession::client(desktop() == "kde" ? "qt_window.py" : "gtk_window.py"),
         text, "org.deskagent.TestWindow"});
    EXPECT_EQ(window->readLineStartingWith("ready", 30s), "ready");
    return window;
  }
  // The desktop's terminal, focused (`window` has lost the focus to it), running the program
  // that logs what reaches it to `log`.
  std::unique_ptr<ChildProcess> terminal(const std::string& log, ChildProcess& window) {
    std::vector<std::string> argv = desktop() == "kde" ? std::vector<std::string>{"konsole", "-e"}
                                                       : std::vector<std::string>{"kgx", "--"};
    argv.insert(argv.end(), {"python3", DesktopSession::client("terminal_log.py"), log});
    auto terminal = session_->start(argv);
    EXPECT_TRUE(fileHasLine(session_->hostPath(log), "ready", 30s));
    EXPECT_EQ(window.readLineStartingWith("focus out", 30s), "focus out");
    // GNOME Console also reports its window's focus to the program (Konsole does not when it
    // has the focus already): there, that too.
    fileHasLine(session_->hostPath(log), "focus in", 3s);
    return terminal;
  }
  // The window takes the clipboard with the user's content of three types; what the clipboard
  // then holds, once the compositor has announced it.
  std::map<std::string, std::string> copyUsersContent(ChildProcess& window) {
    std::map<std::string, std::string> users;
    // Asked again while it does not show: a window takes the clipboard only once it has the
    // keyboard focus, which comes a moment after it shows.
    for (int tries = 0; tries < 5 && users.count("application/x-deskagent-test") == 0; ++tries) {
      window.write("copy\n");
      EXPECT_EQ(window.readLineStartingWith("copied"), "copied");
      becomes(
          [&] {
            users = clipboard();
            return std::to_string(users.count("application/x-deskagent-test"));
          },
          "1", 2s);
    }
    return users;
  }
  void startAgent() {
    agent_ = session_->agent();
    ASSERT_EQ(agent_->readLine(30s), R"({"type":"ready"})");
    EXPECT_EQ(json::parse(agent_->readLine().value_or("{}"))["accessibility"], true);
  }
  // Whether the window's text comes to be `text` (a paste over a selection shows the text without
  // the selection first).
  static bool shows(ChildProcess& window, const std::string& text) {
    const std::string line = "text: " + json(text).dump();
    for (auto got = window.readLineStartingWith("text: "); got;
         got = window.readLineStartingWith("text: ")) {
      if (*got == line) return true;
    }
    return false;
  }
  json next(const std::string& type) { return agent_->nextJson(R"({"type":")" + type + "\""); }
  void send(const json& command) { ASSERT_TRUE(agent_->send(command)); }

  // Every type the clipboard offers, with its bytes.
  std::map<std::string, std::string> clipboard() {
    std::map<std::string, std::string> all;
    std::istringstream types(session_->run({"wl-paste", "--list-types"}));
    for (std::string type; std::getline(types, type);) {
      all[type] = session_->run({"wl-paste", "--no-newline", "--type", type});
    }
    return all;
  }
  bool clipboardBecomes(const std::map<std::string, std::string>& expected) {
    auto bytes = [](const std::map<std::string, std::string>& all) {
      std::string out;
      for (const auto& [type, data] : all)
        out += type + " " + std::to_string(data.size()) + " " + data;
      return out;
    };
    return becomes([&] { return bytes(clipboard()); }, bytes(expected));
  }

  std::unique_ptr<DesktopSession> session_;
  std::unique_ptr<ChildProcess> agent_;
};

// A read and a paste in the toolkit's window and in the terminal, with the user's clipboard of
// several types byte-identical after each, while a clipboard manager reads every new clipboard
// at once: its reads are not the target's, so the text is there when the window pastes.
TEST_P(DesktopAgentTest, PastesAndReadsInWindowsAndTerminalsAndGivesTheClipboardBack) {
  auto window = this->window("selected in the window");
  const auto users = copyUsersContent(*window);
  ASSERT_EQ(users.at("application/x-deskagent-test"), std::string("\x00\x01\xfe\xff", 4));
  const std::string history = session_->scratch() + "/history";
  auto manager = session_->start(
      {"wl-paste", "--watch", "sh", "-c", "cat >>" + history + "; echo >>" + history});
  startAgent();

  send({{"type", "read-selection"}});
  EXPECT_EQ(next("selection"),
            json({{"type", "selection"}, {"ok", true}, {"text", "selected in the window"}}));
  EXPECT_TRUE(clipboardBecomes(users));
  send({{"type", "paste"}, {"text", "héllo ✓\nsecond line"}});
  EXPECT_TRUE(shows(*window, "héllo ✓\nsecond line"));
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_TRUE(clipboardBecomes(users));

  // The terminal: the paste arrives as text (no ^V), the read sends no chord at all (a terminal
  // may turn its copy key into Control+C): nothing reaches the program, no interrupt.
  const std::string log = session_->scratch() + "/terminal";
  auto terminal = this->terminal(log, *window);
  send({{"type", "read-selection"}});
  EXPECT_EQ(next("selection"), json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}}));
  send({{"type", "paste"}, {"text", "ls -l"}});
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", true}}));
  EXPECT_TRUE(fileHasLine(session_->hostPath(log), R"(bytes "ls -l")"));
  // What reached the program, its window's focus reports aside: the text, and nothing else.
  std::istringstream lines(contents(session_->hostPath(log)));
  std::string reached;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("focus ")) reached += line + "\n";
  }
  EXPECT_EQ(reached, "ready\nbytes \"ls -l\"\n");
  EXPECT_TRUE(clipboardBecomes(users));
  agent_->closeStdin();
  EXPECT_EQ(agent_->wait(), 0);
  EXPECT_EQ(agent_->readAllStderr(), "");
}

// The end of the agent's input, or SIGTERM, with a paste's restore pending: the agent waits for
// the window to take the text and for the restore, then exits 0. (Had it gone at once, its text
// would have gone with it before the window read it.) What it put back goes with it on KDE, as
// data-control has it; GNOME keeps its text.
TEST_P(DesktopAgentTest, EndOfInputAndSigtermWaitForThePendingRestore) {
  auto window = this->window("");
  std::string pasted;
  for (bool bySignal : {false, true}) {
    // The user's copy. On KDE wl-copy's, held in the foreground until someone else copies (Qt,
    // once the clipboard it gave up has gone with its owner, takes it no more); on GNOME the
    // window's (wl-copy there needs the keyboard focus for a surface of its own).
    std::unique_ptr<ChildProcess> users;
    if (desktop() == "kde") {
      users = session_->start({"wl-copy", "--foreground", "--", "the user's own ✓"});
    } else {
      copyUsersContent(*window);
    }
    ASSERT_TRUE(
        becomes([&] { return clipboard()["text/plain;charset=utf-8"]; }, "the user's own ✓"));
    startAgent();
    const std::string text = bySignal ? " by signal" : "at the end";
    send({{"type", "paste"}, {"text", text}});
    if (bySignal) {
      // Once the chord is on its way, so the paste is under way.
      ASSERT_TRUE(window->readLineStartingWith("key "));
      ::kill(agent_->pid(), SIGTERM);
    } else {
      agent_->closeStdin();
    }
    EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", true}}));
    EXPECT_EQ(agent_->wait(), 0);
    EXPECT_EQ(agent_->readAllStderr(), "");
    pasted += text;
    EXPECT_TRUE(shows(*window, pasted));
    // Mutter keeps the text of a clipboard whose owner has gone: the user's, put back in time.
    if (desktop() == "gnome") {
      EXPECT_TRUE(
          becomes([&] { return clipboard()["text/plain;charset=utf-8"]; }, "the user's own ✓"));
    }
  }
}

// A GNOME that refuses mutter's API to the agent (here, its session bus refuses the clipboard):
// the agent says it cannot paste, and nothing reaches the window; the X11 backend, which it would
// otherwise fall back on, would have answered "ok":true. `--check` says why.
TEST(GnomeRestrictedTest, ARefusedApiIsReportedAndNothingIsPasted) {
  DesktopSession gnome("gnome-restricted");
  if (!gnome.started()) GTEST_SKIP() << "no userland (tests/desktop/userland.sh, as root)";
  auto window = gnome.start(
      {"python3", DesktopSession::client("gtk_window.py"), "", "org.deskagent.TestWindow"});
  ASSERT_EQ(window->readLineStartingWith("ready", 30s), "ready");
  auto agent = gnome.agent();
  ASSERT_EQ(agent->readLine(30s), R"({"type":"ready"})");
  EXPECT_EQ(json::parse(agent->readLine().value_or("{}"))["accessibility"], false);
  ASSERT_TRUE(agent->send({{"type", "paste"}, {"text", "dictated"}}));
  EXPECT_EQ(agent->nextJson(R"({"type":"paste")"),
            json({{"type", "paste"}, {"ok", false}, {"reason", "accessibility"}}));
  agent->closeStdin();
  EXPECT_EQ(agent->wait(), 0);
  EXPECT_EQ(agent->readAllStderr(), "");
  EXPECT_EQ(window->readLineStartingWith("key ", 0ms), std::nullopt);
  std::string check = gnome.run({gnome.scratch() + "/deskagent", "--check"});
  EXPECT_NE(check.find("mutter refused a remote-desktop session: "), std::string::npos) << check;
  EXPECT_NE(check.find("backend, which cannot work here"), std::string::npos) << check;
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopAgentTest, ::testing::Values("kde", "gnome"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace deskagent::testing
