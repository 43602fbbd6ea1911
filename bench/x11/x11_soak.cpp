// A long run of the built agent on an Xvfb of its own, as a busy host and a busy user would drive
// it: a random mix of every command (and lines that are no command), XTEST presses of the
// modifier keys, a focused window that pastes, copies or ignores the chords, the user copying
// new text now and then, and a clipboard manager to take the clipboard at exit.
//
//   x11_soak [SECONDS]     default 600; also stops after kMaxCommands commands
//
// Every 30 s it prints commands sent, events received, and the agent's resident memory and open
// descriptors. It fails (exit 1) when a command goes unanswered or is answered wrongly (answers
// are matched per kind, in order), when a line is not one JSON object, when the agent does not
// exit cleanly at the end of its input, or when the clipboard is not the user's at a quiet point
// or at the end.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "x11/x11_harness.hpp"

namespace {

using namespace deskagent::testing;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr long kMaxCommands = 2'000'000;
// Transfers run one at a time (each up to a couple of seconds); more would only queue.
constexpr std::size_t kMaxTransfersInFlight = 6;
constexpr auto kQuietPointEvery = 20s;
constexpr auto kReportEvery = 30s;

// Lines the agent must leave without a trace.
const std::vector<std::string> kJunk = {
    "",
    "not json",
    "[]",
    "null",
    "42",
    "\"paste\"",
    R"({"type":"Paste","text":"x"})",
    R"({"type":"paste","text":""})",
    R"({"type":"paste","text":7})",
    R"({"type":"paste"})",
    R"({"type":"watch","keyCode":"61"})",
    R"({"type":"watch","keyCode":61.5})",
    R"({"type":"watch","keyCode":null})",
    R"({"type":"watch","keyCode":9223372036854775808})",
    R"({"type":"permissions")",
    R"({"type":["permissions"]})",
    R"({"kind":"permissions"})",
    std::string(R"({"type":"permissions"})") + '\0',
    "\xff\xfe{\"type\":\"permissions\"}",
    std::string(2000, '[') + std::string(2000, ']'),
    "{\"type\":\"paste\",\"text\":\"\xc3\"",
};

const std::vector<std::int64_t> kWatchCodes = {61, 58, 60, 56, 62, 59, 55, 54, 63, 57, 0, 200};
const std::vector<KeySym> kKeys = {XK_Alt_R,     XK_Alt_L,     XK_Shift_R, XK_Shift_L,
                                   XK_Control_R, XK_Control_L, XK_Super_L};
const std::set<std::int64_t> kWatchable = {63, 57, 55, 54, 58, 61, 59, 62, 56, 60};

long rssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (status >> word) {
    if (word == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return -1;
}

int openFds(pid_t pid) {
  DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

std::string clipboardText() {
  return runToEnd({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"});
}

class Soak {
 public:
  Soak(Clock::duration length, unsigned seed) : length_(length), random_(seed) {}

  int run() {
    if (!setUp()) return 1;

    start_ = Clock::now();
    nextReport_ = start_ + kReportEvery;
    auto nextQuiet = start_ + kQuietPointEvery;
    while (!failed_ && Clock::now() < start_ + length_ && sent_ < kMaxCommands) {
      act();
      pump(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 12)(random_)));
      if (Clock::now() >= nextQuiet) {
        quietPoint();
        nextQuiet = Clock::now() + kQuietPointEvery;
      }
    }
    if (!failed_) quietPoint();
    report();
    if (!failed_) finish();
    if (failed_) return 1;
    std::printf(
        "soak passed: %ld commands, %ld events, %ld key events, %ld pastes received by the "
        "window (%ld missed by a chord the user's keys disturbed), %ld selections read\n",
        sent_, events_, keyEvents_, pastesDelivered_, pastesMissed_, selectionsRead_);
    return 0;
  }

 private:
  // Records the first failure; every loop stops at the next look at failed_.
  bool fail(const std::string& why) {
    if (!failed_) std::printf("SOAK FAILED after %ld commands: %s\n", sent_, why.c_str());
    std::fflush(stdout);
    failed_ = true;
    return false;
  }

  bool setUp() {
    if (!server_.start()) return fail("no Xvfb");
    server_.makeCurrent();
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return fail("cannot open the display");
    manager_ = std::make_unique<ChildProcess>(std::vector<std::string>{X11_CLIPBOARD_MANAGER});
    if (manager_->readLine() != "ready") return fail("no clipboard manager");
    if (!userCopies() || !openWindow("paste")) return false;
    agent_ = std::make_unique<AgentProcess>();
    auto ready = agent_->readLine();
    auto permissions = agent_->readLine();
    if (ready != R"({"type":"ready"})" || !permissions) return fail("no start-up lines");
    permissions_ = json::parse(*permissions);
    if (permissions_["accessibility"] != true) return fail("no XTEST: nothing to soak");
    return true;
  }

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  void send(const std::string& line) {
    agent_->write(line + "\n");
    ++sent_;
  }

  // One random step of the host or the user.
  void act() {
    std::size_t transfers = pastesDue_ + selections_.size();
    switch (pick(20)) {
      case 0:
      case 1:
      case 2:
        send(R"({"type":"permissions"})");
        ++permissionsDue_;
        break;
      case 3: {
        static const char* scopes[] = {"", R"(,"scope":"accessibility")",
                                       R"(,"scope":"input-monitoring")", R"(,"scope":"camera")"};
        send(std::string(R"({"type":"request")") + scopes[pick(4)] + "}");
        ++permissionsDue_;
        break;
      }
      case 4:
      case 5:
        sendWatch();
        break;
      case 6:
        send(R"({"type":"unwatch"})");
        break;
      case 7:
      case 8:
        if (transfers < kMaxTransfersInFlight) sendPaste();
        break;
      case 9:
        if (transfers < kMaxTransfersInFlight) {
          send(R"({"type":"read-selection"})");
          selections_.push_back(mode_);
        }
        break;
      case 10:
      case 11:
        send(kJunk[static_cast<std::size_t>(pick(static_cast<int>(kJunk.size())))]);
        break;
      default:
        pressOrRelease();
        break;
    }
  }

  void sendWatch() {
    std::int64_t code =
        kWatchCodes[static_cast<std::size_t>(pick(static_cast<int>(kWatchCodes.size())))];
    // 61, 61.0 and 6.1e1 are the same whole number.
    std::string number = std::to_string(code);
    if (pick(4) == 0) number += ".0";
    send(R"({"type":"watch","keyCode":)" + number + "}");
    if (!watched_) tapDue_ = true;
    watched_ = true;
  }

  void sendPaste() {
    static const std::vector<std::string> pieces = {"soak", " ", "é",  "—",  "🙂", "\"",
                                                    "\\",   "/", "\n", "\t", "日本", "x"};
    std::string text = "paste " + std::to_string(sent_) + " ";
    int length = pick(10) == 0 ? 2000 : pick(40);
    for (int i = 0; i < length; ++i) text += pieces[static_cast<std::size_t>(pick(12))];
    send(json{{"type", "paste"}, {"text", text}}.dump());
    ++pastesDue_;
    if (mode_ == "paste") pastedTexts_.push_back(x11_test::hex(text));
  }

  // The user presses a modifier, or lets one go; at most two are held at a time.
  void pressOrRelease() {
    KeyCode key = XKeysymToKeycode(display_, kKeys[static_cast<std::size_t>(pick(7))]);
    if (key == 0) return;
    bool held = held_.count(key) != 0;
    if (!held && held_.size() >= 2) return;
    XTestFakeKeyEvent(display_, key, held ? False : True, CurrentTime);
    XFlush(display_);
    if (held) {
      held_.erase(key);
    } else {
      held_.insert(key);
    }
  }

  void releaseAll() {
    for (KeyCode key : held_) XTestFakeKeyEvent(display_, key, False, CurrentTime);
    XFlush(display_);
    held_.clear();
  }

  // Reads what the agent, the window and the manager have written, for up to `wait`.
  void pump(std::chrono::milliseconds wait) {
    pollfd fds[3] = {{agent_->outputFd(), POLLIN, 0},
                     {window_->outputFd(), POLLIN, 0},
                     {manager_->outputFd(), POLLIN, 0}};
    ::poll(fds, 3, static_cast<int>(wait.count()));
    while (auto line = agent_->pollLine()) onEvent(*line);
    while (auto line = window_->pollLine()) onWindowLine(*line);
    manager_->takeAvailable();
    if (Clock::now() >= nextReport_) {
      report();
      nextReport_ += kReportEvery;
    }
  }

  void onEvent(const std::string& line) {
    ++events_;
    json event = json::parse(line, nullptr, false);
    if (!event.is_object() || !event["type"].is_string()) {
      fail("not one JSON object: " + line.substr(0, 200));
      return;
    }
    const std::string type = event["type"];
    if (type == "permissions") {
      if (permissionsDue_ == 0) return (void)fail("a permissions event nobody asked for");
      --permissionsDue_;
      if (event != permissions_) fail("permissions changed: " + line);
    } else if (type == "paste") {
      if (pastesDue_ == 0) return (void)fail("a paste event without a paste");
      --pastesDue_;
      if (event != json{{"type", "paste"}, {"ok", true}}) fail("paste answered " + line);
    } else if (type == "selection") {
      if (selections_.empty()) return (void)fail("a selection event without a read");
      std::string mode = selections_.front();
      selections_.pop_front();
      bool empty = event == json{{"type", "selection"}, {"ok", false}, {"reason", "empty"}};
      bool read = event == json{{"type", "selection"}, {"ok", true}, {"text", windowText_}};
      if (read && mode == "copy") {
        ++selectionsRead_;
      } else if (!empty) {
        fail("read-selection in " + mode + " mode answered " + line);
      }
    } else if (type == "tap") {
      if (!tapDue_ || event != json{{"type", "tap"}, {"active", true}, {"listening", true}}) {
        fail("unexpected " + line);
      }
      tapDue_ = false;
    } else if (type == "key") {
      ++keyEvents_;
      if (!kWatchable.count(event["keyCode"].get<std::int64_t>())) fail("key event " + line);
    } else {
      fail("unknown event " + line);
    }
  }

  // "paste STATE TEXT HINT": the text must be one the host pasted, in order; a chord the
  // user's own keys turned into another shortcut is missed, never answered with other text.
  void onWindowLine(const std::string& line) {
    if (!line.starts_with("paste ")) return;
    auto text = line.substr(line.find(' ', 6) + 1);
    text = text.substr(0, text.find(' '));
    while (!pastedTexts_.empty() && pastedTexts_.front() != text) {
      pastedTexts_.pop_front();
      ++pastesMissed_;
    }
    if (pastedTexts_.empty()) {
      fail("the window pasted text nobody sent: " + line.substr(0, 200));
      return;
    }
    pastedTexts_.pop_front();
    ++pastesDelivered_;
  }

  bool answered() const {
    return pastesDue_ == 0 && selections_.empty() && permissionsDue_ == 0 && !tapDue_;
  }

  // Every command answered and every transfer over: the clipboard must be the user's. Then the
  // user copies something new and another kind of window takes the focus.
  void quietPoint() {
    releaseAll();
    auto deadline = Clock::now() + 15s;
    while (!failed_ && !answered() && Clock::now() < deadline) pump(50ms);
    if (failed_) return;
    if (!answered()) {
      fail("unanswered after 15 s: " + std::to_string(pastesDue_) + " pastes, " +
           std::to_string(selections_.size()) + " reads, " + std::to_string(permissionsDue_) +
           " permissions");
      return;
    }
    // The user copies at once, even while a read answered "empty" still watches for the
    // application's late copy: the user's copy must win.
    if (!clipboardBecomesUsers()) return;
    static const char* modes[] = {"paste", "copy", "ignore"};
    if (!userCopies() || !openWindow(modes[pick(3)])) return;
  }

  bool clipboardBecomesUsers() {
    auto deadline = Clock::now() + 5s;
    std::string now;
    while (Clock::now() < deadline) {
      now = clipboardText();
      if (now == userText_) return true;
      pump(50ms);
    }
    fail("the clipboard is not the user's: " + now.substr(0, 80));
    return false;
  }

  // A new copy by the user, now and then a large one (INCR both ways).
  bool userCopies() {
    userText_ = "the user's copy " + std::to_string(++userCopies_);
    if (pick(4) == 0) userText_ += std::string(300000, 'u');
    userClipboard_ = xclipCopy(userText_);
    auto deadline = Clock::now() + 5s;
    while (clipboardText() != userText_) {
      if (Clock::now() > deadline) return fail("xclip did not take the clipboard");
      ::usleep(20000);
    }
    return true;
  }

  bool openWindow(const std::string& mode) {
    mode_ = mode;
    windowText_ = "selected " + std::to_string(userCopies_);
    pastedTexts_.clear();
    window_.reset();
    window_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{X11_TEST_WINDOW, "--mode", mode, "--text", windowText_});
    if (window_->readLine() != "ready") return fail("no test window");
    return true;
  }

  void finish() {
    agent_->closeStdin();
    auto deadline = Clock::now() + 10s;
    while (!failed_ && Clock::now() < deadline && agent_->wait(0ms) == std::nullopt) pump(20ms);
    auto status = agent_->wait(0ms);
    if (status != 0) {
      fail("the agent did not exit with status 0 at the end of its input");
      return;
    }
    if (auto err = agent_->readAllStderr(); !err.empty()) fail("stderr: " + err.substr(0, 200));
    // The agent has gone; whoever serves the clipboard now must serve the user's copy.
    clipboardBecomesUsers();
  }

  void report() {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_);
    pid_t pid = agent_ ? agent_->pid() : -1;
    std::printf("%4lds  commands %8ld  events %8ld  rss %6ld KiB  fds %3d  in flight %zu\n",
                static_cast<long>(seconds.count()), sent_, events_, rssKiB(pid), openFds(pid),
                pastesDue_ + selections_.size());
    std::fflush(stdout);
  }

  Clock::duration length_;
  std::mt19937 random_;
  XServer server_;
  Display* display_ = nullptr;
  std::unique_ptr<ChildProcess> manager_, window_, userClipboard_;
  std::unique_ptr<AgentProcess> agent_;
  json permissions_;

  Clock::time_point start_, nextReport_;
  bool failed_ = false;
  long sent_ = 0, events_ = 0, keyEvents_ = 0, selectionsRead_ = 0;
  long pastesDelivered_ = 0, pastesMissed_ = 0, userCopies_ = 0;

  // What is still to be answered, per kind, in order.
  long permissionsDue_ = 0;
  bool tapDue_ = false, watched_ = false;
  long pastesDue_ = 0;
  std::deque<std::string> selections_;   // the window's mode when the read was sent
  std::deque<std::string> pastedTexts_;  // hex, for the window to receive

  std::string mode_, windowText_, userText_;
  std::set<KeyCode> held_;
};

}  // namespace

int main(int argc, char** argv) {
  long seconds = argc > 1 ? std::atol(argv[1]) : 600;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: x11_soak [SECONDS]\n");
    return 2;
  }
  unsigned seed = std::random_device{}();
  std::printf("x11_soak: %lds, seed %u\n", seconds, seed);
  return Soak(std::chrono::seconds(seconds), seed).run();
}
