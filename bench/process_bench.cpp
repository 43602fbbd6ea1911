// The built agent as a host sees it: time from spawn to the ready line, resident memory once
// started, and the round trip of a "permissions" command. Prints one line per figure.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "process/child_process.hpp"

using namespace std::chrono;
using deskagent::testing::AgentProcess;

namespace {

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
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
    rss = std::max(rss, residentKiB(agent.pid()));
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
  return 0;
}
