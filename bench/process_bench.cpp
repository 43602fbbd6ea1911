// The built agent as a host sees it: time from spawn to the ready line, resident memory once
// started, the round trip of a "permissions" command, and the time and peak memory a huge line
// costs before the next command is answered. Prints one line per figure.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process/child_process.hpp"

using namespace std::chrono;
using deskagent::testing::AgentProcess;

namespace {

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// A figure of /proc/<pid>/status in KiB: "VmRSS:" now, "VmHWM:" the peak.
long statusKiB(pid_t pid, const std::string& field = "VmRSS:") {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// One line of `mib` MiB of `fill` between `head` and `tail`, then a "permissions" command: the
// time from the first byte written to its answer, and the agent's peak resident memory.
void hugeLine(const char* what, const std::string& head, char fill, std::size_t mib,
              const std::string& tail) {
  AgentProcess agent;
  agent.readLine();
  agent.readLine();
  std::string body((mib << 20) - head.size() - tail.size(), fill);
  auto t0 = steady_clock::now();
  std::thread writer([&] { agent.write(head + body + tail + "\n{\"type\":\"permissions\"}\n"); });
  while (auto line = agent.readLine()) {
    if (line->find("\"permissions\"") != std::string::npos) break;
  }
  double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
  writer.join();
  std::printf("%s: next command answered after %.0f ms, peak resident %ld MiB\n", what, ms,
              statusKiB(agent.pid(), "VmHWM:") / 1024);
}

}  // namespace

int main() {
  std::vector<double> startup;
  long rss = 0;
  for (int i = 0; i < 50; ++i) {
    auto t0 = steady_clock::now();
    AgentProcess agent;
    if (!agent.readLine()) return 1;
    startup.push_back(duration<double, std::micro>(steady_clock::now() - t0).count());
    agent.readLine();  // the first permissions report
    rss = std::max(rss, statusKiB(agent.pid()));
  }

  AgentProcess agent;
  agent.readLine();
  agent.readLine();
  std::vector<double> roundTrip;
  for (int i = 0; i < 20000; ++i) {
    auto t0 = steady_clock::now();
    agent.write("{\"type\":\"permissions\"}\n");
    if (!agent.readLine()) return 1;
    if (i >= 1000)
      roundTrip.push_back(duration<double, std::micro>(steady_clock::now() - t0).count());
  }

  std::printf("spawn to ready line: p50 %.0f us, p99 %.0f us (50 runs)\n", percentile(startup, 0.5),
              percentile(startup, 0.99));
  std::printf("resident memory after start-up: %ld KiB (max of 50 runs)\n", rss);
  std::printf("permissions round trip: p50 %.1f us, p99 %.1f us (19000 runs)\n",
              percentile(roundTrip, 0.5), percentile(roundTrip, 0.99));

  hugeLine("16 MiB of [", "", '[', 16, "");
  hugeLine("63 MiB of [", "", '[', 63, "");
  hugeLine("a 64 MiB line pasting its text", "{\"type\":\"paste\",\"text\":\"", 'x', 64, "\"}");
  return 0;
}
