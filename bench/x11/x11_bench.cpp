// Latency of the agent on a real X server (Xvfb), measured beside the tools a Linux user would
// otherwise reach for, in the same run:
//   key:   an XTEST press or release -> the agent's "key" line at the host, and -> the
//          RawKeyPress/RawKeyRelease block of `xinput test-xi2 --root`;
//   paste: the "paste" command written -> the text received by a focused test window, and
//          spawning `xclip -i` then `xdotool key ctrl+v` -> the same;
//   large: the "paste" command written -> its answer, while the user's clipboard holds 50 MiB
//          of text served by xclip (read once, through INCR, before the text goes on);
//   busy:  an XTEST press or release -> the agent's "key" line, and "permissions" written -> its
//          answer, while a paste's snapshot reads a 100 MiB clipboard (xclip) or one whose owner
//          drips its data (a byte every 0.4 s, refused after the ceiling), against idle;
//   image: how long Qt and GTK take to answer a request for a 3840x2160 image they hold as
//          image/png (they encode it on request), with the machine as it is and with every
//          core kept busy besides;
//   memory: the agent's resident peak (VmHWM) over a paste whose restore puts back a 150 MiB
//          text, against the text's size.
// Prints p50 and p99 in microseconds.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "x11/x11_harness.hpp"

namespace {

using namespace deskagent::testing;
using Clock = std::chrono::steady_clock;

constexpr int kKeyRounds = 200;
constexpr int kPasteRounds = 40;
constexpr int kLargeRounds = 5;

double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

struct Samples {
  std::vector<double> values;
  int misses = 0;
  double percentile(double p) const {
    if (values.empty()) return 0;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[index];
  }
  // One round: whether the line that ends it arrived, and when.
  void add(const std::optional<std::string>& line, const std::string& text,
           Clock::duration elapsed) {
    if (line && line->find(x11_test::hex(text)) != std::string::npos) {
      values.push_back(micros(elapsed));
    } else {
      ++misses;
    }
  }
  void print(const char* name) const {
    std::printf("%-44s p50 %9.0f us   p99 %9.0f us   (n=%zu%s)\n", name, percentile(0.5),
                percentile(0.99), values.size(),
                misses ? (", " + std::to_string(misses) + " missed").c_str() : "");
  }
};

// Stamps the moment each of two children first prints a line starting with its prefix.
struct Arrival {
  ChildProcess& child;
  std::string prefix;
  std::optional<Clock::time_point> at;
};

void awaitBoth(Arrival& a, Arrival& b, Clock::time_point deadline) {
  while ((!a.at || !b.at) && Clock::now() < deadline) {
    for (Arrival* x : {&a, &b}) {
      while (!x->at) {
        auto line = x->child.pollLine();
        if (!line) break;
        if (line->rfind(x->prefix, 0) == 0) x->at = Clock::now();
      }
    }
    if (a.at && b.at) break;
    pollfd fds[2] = {{a.child.outputFd(), POLLIN, 0}, {b.child.outputFd(), POLLIN, 0}};
    ::poll(fds, 2, 50);
  }
}

void benchKeys() {
  AgentProcess agent;
  agent.readLine();  // ready
  agent.readLine();  // permissions
  agent.write("{\"type\":\"watch\",\"keyCode\":61}\n");
  agent.readLine();  // tap
  // stdbuf: xinput's stdout is a pipe here, which stdio would otherwise fill before writing.
  ChildProcess xinput({"stdbuf", "-oL", "xinput", "test-xi2", "--root"});
  Display* display = XOpenDisplay(nullptr);
  KeyCode altR = XKeysymToKeycode(display, XK_Alt_R);
  ::usleep(300000);  // xinput selects its events after it starts
  xinput.takeAvailable();

  Samples agentSamples, xinputSamples;
  for (int round = 0; round < kKeyRounds; ++round) {
    bool down = round % 2 == 0;
    // Both listen to the same press; each is stamped when its own line arrives.
    Arrival fromAgent{agent, "{\"type\":\"key\"", std::nullopt};
    Arrival fromXinput{xinput, down ? "EVENT type 13" : "EVENT type 14", std::nullopt};
    auto start = Clock::now();
    XTestFakeKeyEvent(display, altR, down ? True : False, CurrentTime);
    XFlush(display);
    awaitBoth(fromAgent, fromXinput, start + 5s);
    if (fromAgent.at) agentSamples.values.push_back(micros(*fromAgent.at - start));
    if (fromXinput.at) xinputSamples.values.push_back(micros(*fromXinput.at - start));
    ::usleep(2000);
  }
  XCloseDisplay(display);
  agentSamples.print("key: agent (XTEST -> \"key\" line)");
  xinputSamples.print("key: xinput test-xi2 --root (XTEST -> line)");
  agent.closeStdin();
  agent.wait();
}

void benchPaste() {
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  window.readLine();  // ready
  AgentProcess agent;
  agent.readLine();
  agent.readLine();

  Samples agentSamples, spawnSamples;
  for (int round = 0; round < kPasteRounds; ++round) {
    std::string text = "agent paste " + std::to_string(round);
    auto start = Clock::now();
    agent.write("{\"type\":\"paste\",\"text\":\"" + text + "\"}\n");
    auto line = window.readLineStartingWith("paste ", 5s);
    agentSamples.add(line, text, Clock::now() - start);
    agent.readLine();  // the "paste" event
    ::usleep(400000);  // the restore, so every round starts from the user's clipboard
  }
  agent.closeStdin();
  agent.wait();

  for (int round = 0; round < kPasteRounds; ++round) {
    std::string text = "xclip paste " + std::to_string(round);
    auto start = Clock::now();
    {
      // xclip forks a copy that serves the clipboard and keeps our pipe: wait for xclip only.
      ChildProcess xclip({"xclip", "-selection", "clipboard", "-i"});
      xclip.write(text);
      xclip.closeStdin();
      xclip.wait();
    }
    runToEnd({"xdotool", "key", "ctrl+v"});
    auto line = window.readLineStartingWith("paste ", 5s);
    // xclip returns before its background copy owns the clipboard: the paste may race it.
    spawnSamples.add(line, text, Clock::now() - start);
    ::usleep(50000);
  }
  agentSamples.print("paste: agent (command -> text in window)");
  spawnSamples.print("paste: xclip + xdotool key ctrl+v (spawn -> text)");
}

void benchLargeClipboard() {
  std::string large;
  while (large.size() < (50u << 20)) large += "line " + std::to_string(large.size()) + "\n";
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  window.readLine();  // ready
  Samples samples;
  for (int round = 0; round < kLargeRounds; ++round) {
    auto user = xclipCopy(large);
    ::usleep(500000);  // xclip owns the clipboard a moment after it has read its input
    AgentProcess agent;
    agent.readLine();
    agent.readLine();
    auto start = Clock::now();
    agent.write("{\"type\":\"paste\",\"text\":\"over 50 MiB\"}\n");
    auto answer = agent.readLine(10s);
    bool ok = answer && answer->find("\"ok\":true") != std::string::npos;
    samples.add(ok ? std::optional<std::string>(x11_test::hex("ok")) : std::nullopt, "ok",
                Clock::now() - start);
    window.readLineStartingWith("paste ", 5s);
    agent.closeStdin();
    agent.wait();
  }
  samples.print("paste over a 50 MiB clipboard (command -> answer)");
}

// Keys pressed every 20 ms while a paste reads `owner`'s clipboard (none: idle), until the
// paste is answered; then "permissions" while another paste reads it.
void keysWhileSaving(const char* name, const std::function<std::unique_ptr<ChildProcess>()>& owner,
                     int rounds) {
  Display* display = XOpenDisplay(nullptr);
  KeyCode altR = XKeysymToKeycode(display, XK_Alt_R);
  Samples keys, permissions;
  for (int round = 0; round < rounds; ++round) {
    auto user = owner();
    AgentProcess agent;
    agent.readLine();  // ready
    agent.readLine();  // permissions
    agent.write("{\"type\":\"watch\",\"keyCode\":61}\n");
    agent.readLine();  // tap
    if (user) agent.write("{\"type\":\"paste\",\"text\":\"over it\"}\n");
    bool answered = !user;
    for (int press = 0; press < 250 && (!answered || press < 50); ++press) {
      bool during = !answered;  // pressed while the snapshot is read
      auto start = Clock::now();
      XTestFakeKeyEvent(display, altR, press % 2 == 0 ? True : False, CurrentTime);
      XFlush(display);
      for (;;) {
        auto line = agent.readLine(10s);
        if (!line) break;
        if (line->find("\"type\":\"paste\"") != std::string::npos) answered = true;
        if (line->find("\"type\":\"key\"") == std::string::npos) continue;
        if (during || !user) keys.values.push_back(micros(Clock::now() - start));
        break;
      }
      ::usleep(20000);
    }
    if (user) {
      // The user's clipboard again, since the paste put back a copy the agent now serves.
      user = owner();
      agent.write("{\"type\":\"paste\",\"text\":\"over it\"}\n");
    }
    ::usleep(50000);
    for (int ask = 0; ask < 5; ++ask) {
      auto start = Clock::now();
      agent.write("{\"type\":\"permissions\"}\n");
      while (auto line = agent.readLine(10s)) {
        if (line->find("\"type\":\"permissions\"") == std::string::npos) continue;
        permissions.values.push_back(micros(Clock::now() - start));
        break;
      }
    }
    agent.closeStdin();
    agent.wait(15s);
  }
  XCloseDisplay(display);
  keys.print((std::string("key while saving: ") + name).c_str());
  permissions.print((std::string("permissions while saving: ") + name).c_str());
}

void benchKeysWhileSaving() {
  std::string large;
  while (large.size() < (100u << 20)) large += "line " + std::to_string(large.size()) + "\n";
  keysWhileSaving(
      "nothing (idle)", [] { return std::unique_ptr<ChildProcess>(); }, 1);
  keysWhileSaving(
      "100 MiB (xclip)", [&] { return userClipboard(large); }, 4);
  keysWhileSaving(
      "a dripping owner",
      [] {
        auto owner = std::make_unique<ChildProcess>(
            std::vector<std::string>{X11_ODD_OWNER, "drip", std::string(100, 'd')});
        owner->readLine();  // ready: it owns the clipboard
        return owner;
      },
      2);
}

void benchImageOwners() {
  const std::vector<std::pair<const char*, std::vector<std::string>>> owners = {
      {"Qt", {"/usr/bin/python3", QT_APP, "image"}}, {"GTK", {"/usr/bin/python3", GTK_IMAGE}}};
  for (bool busy : {false, true}) {
    std::vector<std::unique_ptr<ChildProcess>> load;
    for (int i = 0; busy && i < 2; ++i) {
      load.push_back(std::make_unique<ChildProcess>(
          std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
    }
    for (const auto& [name, argv] : owners) {
      Samples samples;
      for (int round = 0; round < 3; ++round) {
        ChildProcess owner(argv);
        if (owner.readLine(60s) != "copied") continue;
        auto start = Clock::now();
        std::string png = clipboard("image/png");
        if (png.starts_with("\x89PNG")) samples.values.push_back(micros(Clock::now() - start));
      }
      samples.print((std::string("image/png from ") + name + (busy ? ", cores busy" : "")).c_str());
    }
  }
}

// The agent's resident peak in MiB (VmHWM), from /proc.
double residentPeakMiB(pid_t pid) {
  std::string status = runToEnd({"cat", "/proc/" + std::to_string(pid) + "/status"});
  auto at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::atof(status.c_str() + at + 6) / 1024;
}

void benchRestoreMemory() {
  constexpr std::size_t kText = 150u << 20;
  std::string large;
  large.reserve(kText + 64);
  while (large.size() < kText) large += "line " + std::to_string(large.size()) + "\n";
  ChildProcess window({X11_TEST_WINDOW, "--mode", "paste"});
  window.readLine();  // ready
  auto user = userClipboard(large);
  AgentProcess agent;
  agent.readLine();
  agent.readLine();
  double idle = residentPeakMiB(agent.pid());
  agent.write("{\"type\":\"paste\",\"text\":\"over 150 MiB\"}\n");
  auto answer = agent.readLine(30s);
  window.readLineStartingWith("paste ", 10s);
  bool back = clipboardBecomes(large, "UTF8_STRING", 60s);  // read back through the agent
  double peak = residentPeakMiB(agent.pid());
  std::printf(
      "restore of a 150 MiB text: %s, %s; resident peak %.0f MiB (%.2fx the text; %.1f "
      "MiB before the paste)\n",
      answer.value_or("no answer").c_str(), back ? "put back whole" : "NOT put back", peak,
      peak / 150, idle);
  agent.closeStdin();
  agent.wait(15s);
}

}  // namespace

int main(int argc, char** argv) {
  // `x11_bench busy`, `x11_bench memory` or `x11_bench image`: that part alone.
  std::string only = argc > 1 ? argv[1] : "";
  XServer server;
  if (!server.start()) {
    std::fprintf(stderr, "x11_bench: no Xvfb\n");
    return 1;
  }
  server.makeCurrent();
  if (only.empty()) {
    benchKeys();
    benchPaste();
    benchLargeClipboard();
  }
  if (only.empty() || only == "busy") benchKeysWhileSaving();
  if (only.empty() || only == "memory") benchRestoreMemory();
  if (only.empty() || only == "image") benchImageOwners();
  return 0;
}
