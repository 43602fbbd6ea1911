// The watcher where the order of loop turns matters: key events already on their way when the
// tap is taken down or turned off. Scenario steps always run the loop to idle, so these need the
// turns in hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "agent/protocol.hpp"
#include "scenario/scenario.hpp"

namespace deskagent {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUp61 = "{\"type\":\"key\",\"phase\":\"up\",\"keyCode\":61}\n";
constexpr const char* kDown61 = "{\"type\":\"key\",\"phase\":\"down\",\"keyCode\":61}\n";

class WatcherInFlight : public ::testing::Test {
 protected:
  void SetUp() override {
    c.agent->start();
    handleCommand(*c.agent, R"({"type":"watch","keyCode":61})");
    c.loop.runUntilIdle();
    c.sim.keyboard().press(61);
    c.loop.runUntilIdle();
    ASSERT_EQ(c.lines.back(), kDown61);
    c.lines.clear();
  }

  long count(const char* line) const { return std::count(c.lines.begin(), c.lines.end(), line); }

  testing::ScenarioContext c;
};

TEST_F(WatcherInFlight, ReleaseOnItsWayToTheOldTapWhenTheRebuildRunsIsReportedOnce) {
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
  c.sim.keyboard().press(61);
  c.sim.keyboard().release(61);
  c.loop.runUntilIdle();
  EXPECT_EQ(count(kDown61), 1);
  EXPECT_EQ(count(kUp61), 2);
}

TEST_F(WatcherInFlight, ReleaseSeenJustBeforeTheSystemTurnsTheTapOffIsReportedOnce) {
  c.sim.keyboard().release(61);
  ASSERT_EQ(c.sim.keyboard().disableTaps(platform::TapEventType::disabledByTimeout), 1);
  c.loop.runUntilIdle();
  EXPECT_EQ(c.lines, std::vector<std::string>{kUp61});
  EXPECT_EQ(c.sim.keyboard().listeningTaps(), 1);
}

}  // namespace
}  // namespace deskagent
