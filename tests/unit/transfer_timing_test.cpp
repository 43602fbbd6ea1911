// Transfers measure their waits from the chord, however long the steps before it took, and a
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
  // The command arrives in a turn that has already run for `busy` (a slow command before it in
  // the same batch, a slow clipboard owner). The simulated application, like the agent before
  // it asks the clock again, counts from the start of that turn: its latency here is `busy`
  // plus how long after the chord it really reacts.
  void commandAfterBusyTurn(Duration busy, const char* command) {
    loop.post([this, busy] { clock.advance(busy); });
    loop.post([this, command] { handleCommand(*agent, command); });
  }
};

TEST(TransferTiming, ReadAndRestoreWaitTheirFullTimeAfterASlowTurn) {
  TrustedDesktop d;
  d.sim.desktop().selection = "picked";
  d.sim.desktop().appLatency = 300ms + 50ms;
  d.commandAfterBusyTurn(300ms, R"({"type":"read-selection"})");
  advanceVirtualTime(d.loop, d.clock, 2s);
  EXPECT_EQ(d.lines,
            std::vector<std::string>{"{\"type\":\"selection\",\"ok\":true,\"text\":\"picked\"}\n"});

  d.sim.desktop().notifiesPasteRead = false;
  d.sim.desktop().appLatency = 300ms + 100ms;
  d.commandAfterBusyTurn(300ms, R"({"type":"paste","text":"dictated"})");
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
