// The built agent end to end on a headless sway of the test's own, with the applications a user
// runs there: terminals (foot, Alacritty, xterm on XWayland) with a program inside that logs what
// reaches it (clients/tty_log.c), a GTK and a Qt editor that save what they got, Chromium showing
// what arrived in its page's title, and wl-clipboard as the user's other copies. What arrived is
// read by the application's own means, never after a fixed wait.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process/child_process.hpp"
#include "wayland/sway_desktop.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

const std::string kText = "héllo ✓ wörld\nsecond line";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// About a mebibyte of text in lines (or `size` bytes), as a long dictation is.
std::string largeText(std::size_t size = 1u << 20) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "line " + std::to_string(line) + " of a long dictation, ünïcödé ✓\n";
  }
  return text;
}

// The FNV-1a hash of the UTF-8 bytes, as the page computes it.
std::string fnv1a(const std::string& bytes) {
  std::uint32_t hash = 0x811c9dc5;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x01000193;
  std::ostringstream hex;
  hex << std::hex << hash;
  return hex.str();
}

class WaylandApps : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sway >/dev/null && command -v wl-copy >/dev/null") != 0) {
      GTEST_SKIP() << "sway and wl-clipboard are not installed";
    }
  }

  // The desktop with the user's keyboard in `layout` (and an optional variant).
  void startDesktop(bool xwayland = false, std::vector<std::string> layout = {"us"}) {
    ASSERT_TRUE(desktop_.start(xwayland));
    keyboard_ = std::make_unique<UserKeyboard>(desktop_, layout);
    ASSERT_TRUE(keyboard_->ready());
  }

  // The user's last copy, held by wl-copy until someone else copies.
  std::map<std::string, std::string> userCopies(const std::string& bytes,
                                                const std::string& type = "text/plain") {
    ChildProcess& copy = desktop_.run({"wl-copy", "--foreground", "--type", type});
    copy.write(bytes);
    copy.closeStdin();
    EXPECT_TRUE(becomes([&] { return clipboardByType()[type]; }, bytes));
    return clipboardByType();
  }

  void startAgent(bool trusted = true) {
    agent_ = &desktop_.run({desktop_.program(DESKAGENT_BINARY)}, {}, /*keepStderr=*/true);
    ASSERT_EQ(agent_->readLine(), R"({"type":"ready"})");
    EXPECT_EQ(json::parse(agent_->readLine().value_or("{}"))["accessibility"], trusted);
  }
  json next(const std::string& type) { return agent_->nextJson(R"({"type":")" + type + "\""); }
  void send(const json& command) { ASSERT_TRUE(agent_->send(command)); }
  void paste(const std::string& text) {
    send({{"type", "paste"}, {"text", text}});
    EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", true}}));
  }
  // A paste while the target is busy (stopped) past the earliest restore: it reads the text once
  // it can, more than once, and pastes what its last read gave.
  void pasteWhileBusy(ChildProcess& target, const std::string& text) {
    ::kill(target.pid(), SIGSTOP);
    paste(text);
    std::this_thread::sleep_for(600ms);
    ::kill(target.pid(), SIGCONT);
  }
  json readSelection() {
    send({{"type", "read-selection"}});
    return next("selection");
  }
  static json selection(const std::string& text) {
    return text.empty() ? json({{"type", "selection"}, {"ok", false}, {"reason", "empty"}})
                        : json({{"type", "selection"}, {"ok", true}, {"text", text}});
  }
  // The agent ends at the end of its input, having written nothing to stderr.
  void endAgent() {
    agent_->closeStdin();
    EXPECT_EQ(agent_->wait(), 0);
    EXPECT_EQ(agent_->readAllStderr(), "");
  }

  SwayDesktop desktop_;
  std::unique_ptr<UserKeyboard> keyboard_;
  ChildProcess* agent_ = nullptr;
};

// --- Terminals: the paste arrives whole, through the terminal's own paste key; the program inside
// gets no ^V, ^C or SIGINT, and a read never sends it the copy chord.

struct Terminal {
  std::string name;
  std::vector<std::string> command;  // the program to run comes after
  std::string appId;
  bool xwayland = false;
  std::vector<std::string> layout = {"us"};
  std::size_t large = 1u << 20;
  std::string selected{};  // what the program inside has the terminal select, and in base64
  std::string selectedBase64{};
  bool clipman = false;  // clipman runs, taking every new clipboard over as its own
};

void PrintTo(const Terminal& terminal, std::ostream* out) {
  *out << terminal.name;
}

class WaylandTerminal : public WaylandApps, public ::testing::WithParamInterface<Terminal> {};

TEST_P(WaylandTerminal, TakesThePasteWithItsOwnKeyAndNoControlCharacterOrSignal) {
  const Terminal& terminal = GetParam();
  startDesktop(terminal.xwayland, terminal.layout);
  if (terminal.clipman) {
    // Where it keeps its history.
    desktop_.run({"mkdir", "-p", (desktop_.home() / ".local/share").string()}).wait();
    desktop_.run({"wl-paste", "--watch", "clipman", "store"});
    // And the types each new clipboard offers, as a manager that honours markers sees them.
    desktop_.run({"wl-paste", "--watch", "sh", "-c",
                  "wl-paste --list-types >>" + (desktop_.home() / "types").string()});
  }
  auto before = userCopies("the user's own");
  if (terminal.clipman) {
    // Its copy of the user's, offered as wl-copy offers text.
    ASSERT_TRUE(becomes(
        [] { return std::to_string(clipboardByType().contains("text/plain;charset=utf-8")); },
        "1"));
    before = clipboardByType();
  }
  const fs::path log = desktop_.home();
  std::vector<std::string> command = terminal.command;
  command.insert(command.end(), {desktop_.program(TTY_LOG), log.string(), terminal.selectedBase64});
  desktop_.run(command);
  ASSERT_TRUE(becomes([&] { return std::to_string(fs::exists(log / "ready")); }, "1", 30s));
  ASSERT_TRUE(desktop_.awaitFocus(terminal.appId));
  if (!terminal.selected.empty()) {
    // Selected there now that it has the focus, as the user does; in Wayland's primary selection
    // once the terminal has taken the escape and XWayland has passed it on.
    ::kill(std::stoi(readFile(log / "pid")), SIGUSR1);
    auto primary = [] { return runToEnd({"wl-paste", "--primary", "--no-newline"}); };
    ASSERT_TRUE(becomes(primary, terminal.selected, 30s));
  }
  startAgent();

  // What is selected there, or nothing.
  EXPECT_EQ(readSelection(), selection(terminal.selected));

  // Bracketed, as the program asked: a paste, not typing. A line break may come as the Enter
  // key's carriage return (xterm's).
  auto pasted = [](const std::string& text) { return "\x1b[200~" + text + "\x1b[201~"; };
  auto received = [&] {
    std::string bytes = readFile(log / "bytes");
    std::replace(bytes.begin(), bytes.end(), '\r', '\n');
    return bytes;
  };
  paste(kText);
  std::string expected = pasted(kText);
  EXPECT_TRUE(becomes(received, expected));
  const std::string large = largeText(terminal.large);
  paste(large);
  expected += pasted(large);
  EXPECT_TRUE(becomes([&] { return std::to_string(received() == expected); }, "1"));
  EXPECT_TRUE(becomes([&] { return std::to_string(clipboardByType() == before); }, "1"));

  EXPECT_EQ(received().size(), expected.size());
  EXPECT_EQ(readFile(log / "signals"), "");
  if (terminal.clipman) {
    // It ran, and kept what it saw (the dictated text too: it honours no marker).
    EXPECT_NE(readFile(desktop_.home() / ".local/share/clipman.json").find(kText.substr(0, 5)),
              std::string::npos);
    // The dictated text came with the markers KDE's managers and CopyQ skip.
    const std::string types = readFile(desktop_.home() / "types");
    for (const char* marker : {"x-kde-passwordManagerHint", "application/x-copyq-hidden",
                               "application/x-copyq-secret", "org.deskagent.transfer"}) {
      EXPECT_NE(types.find(marker), std::string::npos) << marker << " not in\n" << types;
    }
  }
  endAgent();
}

INSTANTIATE_TEST_SUITE_P(
    , WaylandTerminal,
    ::testing::Values(
        // A layout without Latin letters is the user's only one.
        Terminal{.name = "Foot", .command = {"foot"}, .appId = "foot", .layout = {"ru"}},
        // Known by no name of a terminal, nor by a desktop entry.
        Terminal{.name = "FootWithAnAppIdOfItsOwn",
                 .command = {"foot", "--app-id=scratchpad"},
                 .appId = "scratchpad"},
        // Its copy key, with nothing selected, reaches the program as Control+C: a read sends
        // none. Past 8,000 characters it asks the user to confirm a paste, as of their own.
        Terminal{.name = "Konsole",
                 .command = {"env", "QT_QPA_PLATFORM=wayland", "konsole", "--separate", "-e"},
                 .appId = "org.kde.konsole",
                 .large = 7000},
        // With a clipboard manager that takes the dictated text over as its own.
        Terminal{.name = "AlacrittyWithClipman",
                 .command = {"alacritty", "-e"},
                 .appId = "Alacritty",
                 .clipman = true},
        // No clipboard paste key: the primary selection and Shift+Insert. Sway 1.7's bridge to
        // X11 (wlroots 0.15) gives an X11 application nothing of a selection past 64 KiB, from
        // wl-copy as from us. Its selection is read where it is, in the primary selection.
        Terminal{
            .name = "XtermOnXwayland",
            .command = {"xterm", "-u8", "-xrm", "XTerm*disallowedWindowOps: 20,21,SetXprop", "-e"},
            .appId = "XTerm",
            .xwayland = true,
            .large = 60000,
            .selected = "selected in xterm",
            .selectedBase64 = "c2VsZWN0ZWQgaW4geHRlcm0="}),
    [](const auto& info) { return info.param.name; });

// --- Editors: the paste is in the saved file, and a read of the whole text gives it back.

struct Editor {
  std::string name;
  std::vector<std::string> command;  // the file comes after
  std::string appId;
  std::vector<std::string> layout;
  std::size_t large = 1u << 20;
};

void PrintTo(const Editor& editor, std::ostream* out) {
  *out << editor.name;
}

class WaylandEditor : public WaylandApps, public ::testing::WithParamInterface<Editor> {};

TEST_P(WaylandEditor, SavesThePasteAndCopiesItBack) {
  const Editor& editor = GetParam();
  startDesktop(false, editor.layout);
  const std::string png("\x89PNG\r\n\x1a\n\0\x01\xfe\xff", 12);
  auto before = userCopies(png, "image/png");
  const fs::path file = desktop_.home() / "dictation.txt";
  desktop_.run({"touch", file.string()}).wait();
  std::vector<std::string> command = editor.command;
  command.push_back(file.string());
  ChildProcess& app = desktop_.run(command);
  ASSERT_TRUE(desktop_.awaitFocus(editor.appId));
  startAgent();

  // Once the title says the text has changed, the user's own keys save it (with Latin letters).
  auto saves = [&](const std::string& text) {
    auto modified = [&] {
      auto window = desktop_.focused();
      return std::to_string(window && window->title.find('*') != std::string::npos);
    };
    return becomes(modified, "1", 30s) && keyboard_->type("ctrl+s") &&
           becomes([&] { return readFile(file); }, text, 30s);
  };
  // A last line ended, as KWrite ends it on saving.
  const std::string text = kText + "\n";
  paste(text);
  keyboard_->type("layout us");
  EXPECT_TRUE(saves(text)) << readFile(file).substr(0, 200);
  EXPECT_TRUE(becomes([&] { return std::to_string(clipboardByType() == before); }, "1"));
  // Everything selected is read, and replaced by the next paste.
  keyboard_->type("ctrl+a");
  EXPECT_EQ(readSelection(), selection(text));
  const std::string large = largeText(editor.large);
  pasteWhileBusy(app, large);
  EXPECT_TRUE(saves(large)) << readFile(file).substr(0, 200);
  EXPECT_TRUE(becomes([&] { return std::to_string(clipboardByType() == before); }, "1"));

  // The editor's own copies, of all of it: read whole, and saved and put back whole by a paste
  // (Qt's were cut at 64 KiB; GTK's, offering SAVE_TARGETS, had every paste refused).
  keyboard_->type("ctrl+a");
  const std::string read = readSelection().value("text", "");
  EXPECT_TRUE(read == large) << read.size() << " of " << large.size() << " bytes";
  // The user's clipboard back after the read, before the user copies: a copy of the same text
  // while a read still watches for the editor's late copy is undone with it (the README's limit).
  EXPECT_TRUE(becomes([&] { return std::to_string(clipboardByType() == before); }, "1"));
  keyboard_->type("ctrl+c");
  auto copied = [] {
    return runToEnd({"wl-paste", "--no-newline", "--type", "text/plain;charset=utf-8"});
  };
  ASSERT_TRUE(becomes(copied, large));
  paste(kText);
  EXPECT_TRUE(becomes(copied, large));
  endAgent();
}

INSTANTIATE_TEST_SUITE_P(
    , WaylandEditor,
    ::testing::Values(
        // The user's only layout has no Latin letters.
        Editor{.name = "Mousepad",
               .command = {"env", "GDK_BACKEND=wayland", "mousepad"},
               .appId = "mousepad",
               .layout = {"ru"},
               .large = 200000},
        // The user's layout has the letters elsewhere. Both take seconds to select and copy a
        // mebibyte: 200,000 bytes show what the issue's 199,999 characters showed.
        Editor{"KWrite",
               {"env", "QT_QPA_PLATFORM=wayland", "kwrite"},
               "org.kde.kwrite",
               {"us", "dvorak"},
               200000}),
    [](const auto& info) { return info.param.name; });

// --- Chromium: what arrived shows in the page's title. The user's clipboard is rich text
// copied in Chromium itself, and comes back by every type.

TEST_F(WaylandApps, ChromiumTakesThePasteAndTheCopyAndKeepsTheUsersRichText) {
  if (std::system("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "no Chromium";
  startDesktop();
  const fs::path page = desktop_.home() / "page.html";
  std::ofstream(page) << R"(<!doctype html><meta charset="utf-8"><title>loading</title>
<p id="rich"><b>bold</b> and <i>italic</i> from the user</p>
<textarea id="area">selected in chromium</textarea>
<script>
function fnv(bytes) {
  let h = 0x811c9dc5;
  for (const b of bytes) h = Math.imul(h ^ b, 0x01000193) >>> 0;
  return h.toString(16);
}
const area = document.getElementById('area');
let copies = 0;
// After the user's copy, the text area's text is selected for the agent's read.
document.addEventListener('copy', () => setTimeout(() => {
  area.focus();
  area.select();
  document.title = 'copied ' + ++copies;
}));
area.addEventListener('input', () => {
  const bytes = new TextEncoder().encode(area.value);
  document.title = 'got ' + bytes.length + ' ' + fnv(bytes);
});
getSelection().selectAllChildren(document.getElementById('rich'));
document.title = 'ready';
</script>)";
  fs::permissions(page, fs::perms::others_read | fs::perms::owner_all, fs::perm_options::add);
  // The flags a machine without a GPU or a network needs.
  ChildProcess& chromium = desktop_.run(
      {"chromium", "--ozone-platform=wayland", "--no-sandbox", "--disable-gpu", "--disable-quic",
       "--no-first-run", "--disable-background-networking", "--disable-component-update",
       "--disable-sync", "--user-data-dir=" + (desktop_.home() / "chromium").string(),
       "file://" + page.string()});
  auto title = [&] {
    auto window = desktop_.focused();
    return window ? window->title : "";
  };
  ASSERT_TRUE(becomes(title, "ready - Chromium", 60s));
  // The user's copy, again should a loaded machine's Chromium not have taken the keys yet.
  auto copy = [&] {
    keyboard_->type("ctrl+c");
    return becomes([&] { return title().substr(0, 7); }, "copied ", 5s);
  };
  ASSERT_TRUE(copy() || copy() || copy());
  ASSERT_TRUE(becomes([] { return std::to_string(clipboardByType().contains("text/html")); }, "1"));
  auto before = clipboardByType();
  startAgent();

  EXPECT_EQ(readSelection(), selection("selected in chromium"));
  const std::string text = kText + "\n" + largeText();
  pasteWhileBusy(chromium, text);
  EXPECT_TRUE(
      becomes(title, "got " + std::to_string(text.size()) + " " + fnv1a(text) + " - Chromium"));
  EXPECT_TRUE(becomes([&] { return std::to_string(clipboardByType() == before); }, "1"));
  endAgent();
}

// --- What the agent serves: the user's clipboard it has put back, to a reader as slow as it
// likes, to the end, while keys and commands are answered.

TEST_F(WaylandApps, ASlowReaderOfTheRestoredClipboardGetsItWholeAndHoldsUpNothing) {
  startDesktop();
  const std::string large = largeText(4u << 20);
  userCopies(large);
  const std::string types = runToEnd({"wl-paste", "--list-types"});
  startAgent();
  paste("into no window");  // the user's clipboard comes back once no read has come
  ASSERT_TRUE(becomes([&] { return runToEnd({"wl-paste", "--list-types"}); }, types));

  // About 1.3 MB/s: three seconds for it all.
  ChildProcess reader({"wl-paste", "--no-newline"});
  std::string got;
  bool answeredMeanwhile = false;
  char chunk[65536];
  for (ssize_t n; (n = ::read(reader.outputFd(), chunk, sizeof chunk)) > 0;) {
    got.append(chunk, static_cast<std::size_t>(n));
    if (got.size() == static_cast<std::size_t>(n)) send({{"type", "permissions"}});
    if (agent_->pollLine()) answeredMeanwhile = got.size() < large.size();
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(answeredMeanwhile);
  EXPECT_EQ(got.size(), large.size());
  EXPECT_TRUE(got == large);
  endAgent();
}

// --- The compositor: whatever it does, the agent starts, answers and ends as promised, and it
// connects again to the compositor that comes back.

TEST(WaylandCompositor, AnUnansweringOneHoldsUpNeitherTheStartNorTheEnd) {
  const fs::path dir = fs::temp_directory_path() / ("deskagent-silent-" + std::to_string(getpid()));
  fs::create_directories(dir);
  // A socket that takes the connection and never answers.
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = (dir / "wayland-silent").string();
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  // Without a runtime folder, libwayland has something to say about it on stderr.
  for (const std::string& runtime : {"XDG_RUNTIME_DIR=" + dir.string(), std::string()}) {
    ChildProcess agent({"env", "-i", runtime.empty() ? "WAYLAND_DISPLAY=wayland-0" : runtime,
                        "WAYLAND_DISPLAY=wayland-silent", DESKAGENT_BINARY},
                       /*keepStderr=*/true);
    EXPECT_EQ(agent.readLine(), R"({"type":"ready"})");
    EXPECT_EQ(json::parse(agent.readLine().value_or("{}"))["accessibility"], false);
    agent.closeStdin();
    EXPECT_EQ(agent.wait(std::chrono::milliseconds(kSanitized ? 8000 : 4000)), 0);
    EXPECT_EQ(agent.readAllStderr(), "");
  }
  ::close(listener);
  fs::remove_all(dir);
}

TEST_F(WaylandApps, AStoppedRestartedOrFloodingCompositorIsSurvived) {
  startDesktop();
  userCopies("the user's own");
  startAgent();
  ChildProcess& ending = desktop_.run({desktop_.program(DESKAGENT_BINARY)});
  ASSERT_EQ(ending.readLine(), R"({"type":"ready"})");

  // Stopped: commands are answered without taking the clipboard, and the end of input ends.
  desktop_.pause(true);
  send({{"type", "permissions"}});
  EXPECT_EQ(next("permissions")["type"], "permissions");
  send({{"type", "paste"}, {"text", "into a stopped desktop"}});
  EXPECT_EQ(next("paste")["ok"], false);
  ending.closeStdin();
  EXPECT_EQ(ending.wait(std::chrono::milliseconds(kSanitized ? 8000 : 4000)), 0);
  desktop_.pause(false);

  // Ended, and another started in its place: the agent connects to it.
  auto trusted = [&](bool trusted) {
    return becomes(
        [&]() -> std::string {
          send({{"type", "permissions"}});
          return next("permissions").value("accessibility", !trusted) ? "yes" : "no";
        },
        trusted ? "yes" : "no");
  };
  desktop_.stop();
  EXPECT_TRUE(trusted(false));
  ASSERT_TRUE(desktop_.restart());
  EXPECT_TRUE(trusted(true));

  // A copy of too many types is not saved, so not replaced. One of 20,000 and more: the
  // compositor ends every connection that cannot take the burst of their names at once, the
  // agent's among them, and again at each try while that copy is held. Once the user copies
  // something else, the agent is back.
  UserKeyboard flooding(desktop_, {"us"});
  flooding.type("offer 1500");
  send({{"type", "paste"}, {"text", "over too many types"}});
  EXPECT_EQ(next("paste"), json({{"type", "paste"}, {"ok", false}, {"reason", "clipboard"}}));
  flooding.type("offer 50000");
  EXPECT_TRUE(trusted(false));
  userCopies("the user's own again");
  EXPECT_TRUE(trusted(true));

  // And works there.
  const fs::path log = desktop_.home();
  desktop_.run({"foot", desktop_.program(TTY_LOG), log.string()});
  ASSERT_TRUE(desktop_.awaitFocus("foot"));
  paste(kText);
  EXPECT_TRUE(becomes([&] { return readFile(log / "bytes"); }, "\x1b[200~" + kText + "\x1b[201~"));
  endAgent();
}

}  // namespace
}  // namespace deskagent::testing
