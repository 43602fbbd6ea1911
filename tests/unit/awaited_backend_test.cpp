// An agent started before its display: headless at first, then the desktop's once it is up,
// found by the look every 1.5 s and reported as the permissions' change.

#include "platform/awaited_backend.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "agent/agent.hpp"
#include "agent/protocol.hpp"
#include "loop/task_loop.hpp"
#include "platform/sim/sim_platform.hpp"

namespace deskagent {
namespace {

using namespace std::chrono_literals;

TEST(AwaitedBackend, ADisplayThatComesLateIsUsedAndReportedAndLookedForNoMore) {
  VirtualClock clock;
  TaskLoop loop{clock};
  bool displayUp = false;
  int attempts = 0;
  auto platform =
      platform::awaitBackend(loop, 1500ms, [&]() -> std::unique_ptr<platform::Platform> {
        ++attempts;
        if (!displayUp) return nullptr;
        auto desktop = std::make_unique<platform::SimPlatform>(loop);
        desktop->trusted = true;
        desktop->listenEventAccess = platform::kAccessGranted;
        desktop->microphoneStatus = 3;
        return desktop;
      });
  std::vector<std::string> lines;
  Agent agent(loop, *platform, [&](std::string line) { lines.push_back(std::move(line)); });
  agent.start();
  handleCommand(agent, R"({"type":"watch","keyCode":61})");
  handleCommand(agent, R"({"type":"paste","text":"early"})");
  loop.runUntilIdle();
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "{\"type\":\"ready\"}\n",
                "{\"type\":\"permissions\",\"accessibility\":false,\"inputMonitoring\":false,"
                "\"microphone\":\"unknown\"}\n",
                "{\"type\":\"tap\",\"active\":false,\"reason\":\"permission\"}\n",
                "{\"type\":\"paste\",\"ok\":false,\"reason\":\"accessibility\"}\n",
            }));
  lines.clear();

  advanceVirtualTime(loop, clock, 1500ms);  // still down: nothing changes
  displayUp = true;
  advanceVirtualTime(loop, clock, 1000ms);  // the tap's retry at 2 s, before the next look
  lines.clear();
  advanceVirtualTime(loop, clock, 500ms);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(),
            "{\"type\":\"permissions\",\"accessibility\":true,\"inputMonitoring\":true,"
            "\"microphone\":\"granted\"}\n");
  // The watched key's tap is installed on the desktop without another "watch".
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "{\"type\":\"tap\",\"active\":true,\"listening\":true}\n"),
            lines.end());
  EXPECT_EQ(attempts, 2);
  advanceVirtualTime(loop, clock, 6s);
  EXPECT_EQ(attempts, 2);
}

}  // namespace
}  // namespace deskagent
