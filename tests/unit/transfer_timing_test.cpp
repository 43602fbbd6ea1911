// Transfers measure their waits from the chord, however long saving the clipboard took, and a
// copy still being written when the answer goes out is undone all the same.

#include <gtest/gtest.h>

#include <chrono>

#include "agent/protocol.hpp"
#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using namespace std::chrono_literals;

struct TrustedDesktop : ScenarioContext {
  TrustedDesktop() {
    sim.trusted = true;
    sim.desktop().userCopies(platform::simPlainText("mine"));
    agent->start();
    loop.runUntilIdle();
    lines.clear();
  }
};

// Saving the user's clipboard takes 0.3 s (a slow owner); the application's time starts at the
// chord all the same.
TEST(TransferTiming, ReadAndRestoreWaitTheirFullTimeAfterASlowSave) {
  TrustedDesktop d;
  d.sim.desktop().typeReadTime = 300ms;
  d.sim.desktop().selection = "picked";
  d.sim.desktop().appLatency = 150ms;
  handleCommand(*d.agent, R"({"type":"read-selection"})");
  advanceVirtualTime(d.loop, d.clock, 2s);
  EXPECT_EQ(d.lines,
            std::vector<std::string>{"{\"type\":\"selection\",\"ok\":true,\"text\":\"picked\"}\n"});

  d.sim.desktop().notifiesPasteRead = false;
  d.sim.desktop().appLatency = 240ms;
  handleCommand(*d.agent, R"({"type":"paste","text":"dictated"})");
  advanceVirtualTime(d.loop, d.clock, 2s);
  EXPECT_EQ(d.sim.desktop().pasted, std::vector<std::optional<std::string>>{"dictated"});
  EXPECT_EQ(d.sim.desktop().clipboard(), platform::simPlainText("mine"));
}

TEST(TransferTiming, ACopyWrittenInTwoStepsAcrossTheAnswerIsUndone) {
  TrustedDesktop d;
  d.sim.desktop().onCopy = platform::SimDesktop::OnCopy::ignores;
  // The application's two writes are made here through the agent's own calls: who made them
  // is not to be told.
  d.sim.desktop().tellsWriter = false;
  handleCommand(*d.agent, R"({"type":"read-selection"})");
  // The application clears the clipboard just before the answer and writes just after it.
  d.loop.postDelayed(155ms, [&] { d.sim.desktop().clearPasteboard(); });
  d.loop.postDelayed(175ms, [&] { d.sim.desktop().setPasteboardString("sel"); });
  advanceVirtualTime(d.loop, d.clock, 2s);
  ASSERT_EQ(d.lines.size(), 1u);
  EXPECT_EQ(d.sim.desktop().clipboard(), platform::simPlainText("mine"));
}

}  // namespace
}  // namespace deskagent::testing
