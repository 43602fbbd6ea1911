// The watcher where the order of loop turns matters: a key event already on its way when the
// tap is taken down. Scenario steps always run the loop to idle, so this needs the turns in hand.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "agent/protocol.hpp"
#include "scenario/scenario.hpp"

namespace deskagent {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUp61 = "{\"type\":\"key\",\"phase\":\"up\",\"keyCode\":61}\n";
constexpr const char* kDown61 = "{\"type\":\"key\",\"phase\":\"down\",\"keyCode\":61}\n";

TEST(WatcherInFlight, ReleaseOnItsWayToTheOldTapWhenTheRebuildRunsIsReportedOnce) {
  testing::ScenarioContext c;
  c.agent->start();
  handleCommand(*c.agent, R"({"type":"watch","keyCode":61})");
  c.loop.runUntilIdle();
  c.sim.keyboard().press(61);
  c.loop.runUntilIdle();
  ASSERT_EQ(c.lines.back(), kDown61);
  c.lines.clear();

  c.sim.listenEventAccess = platform::kAccessGranted;
  c.clock.set(c.loop.now() + 1500ms);
  c.sim.keyboard().release(61);  // queued for the old tap, behind the tick that replaces it
  c.loop.runOnce(false);
  c.loop.runUntilIdle();
  ASSERT_EQ(c.lines.size(), 4u);
  EXPECT_NE(c.lines[0].find("\"permissions\""), std::string::npos);
  EXPECT_NE(c.lines[1].find("\"tap\""), std::string::npos);
  EXPECT_EQ(c.lines[2], kUp61);
  EXPECT_NE(c.lines[3].find("\"permissions\""), std::string::npos);

  // The next press and release are the new tap's, and make a pair of their own.
  c.lines.clear();
  c.sim.keyboard().press(61);
  c.sim.keyboard().release(61);
  c.loop.runUntilIdle();
  EXPECT_EQ(c.lines, (std::vector<std::string>{kDown61, kUp61}));
}

}  // namespace
}  // namespace deskagent
