// The command-key chord as the system receives it, and the transfer queue under load.

#include "agent/pasteboard.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent.hpp"
#include "loop/poll_loop.hpp"
#include "platform/sim/sim_platform.hpp"

namespace deskagent {
namespace {

using platform::kFlagAlternate;
using platform::kFlagCommand;
using platform::kFlagShift;
using PostedKey = platform::SimDesktop::PostedKey;

struct Fixture {
  VirtualClock clock;
  PollLoop loop{clock};
  platform::SimPlatform sim{loop};
  std::vector<std::string> lines;
  Agent agent{loop, sim, [this](std::string_view line) { lines.emplace_back(line); }};
  platform::SimDesktop& desktop = sim.desktop();
};

void expectKey(const PostedKey& key, std::uint16_t keyCode, bool keyDown, bool hadSource) {
  EXPECT_EQ(key.keyCode, keyCode);
  EXPECT_EQ(key.keyDown, keyDown);
  EXPECT_EQ(key.flags, kFlagCommand);
  EXPECT_EQ(key.hadSource, hadSource);
  EXPECT_EQ(key.localEventsPermitted, hadSource);
}

TEST(CommandKeyChord, PostsDownThenUpWithCommandAloneEvenWhileTheUserHoldsModifiers) {
  Fixture f;
  f.desktop.heldModifiers = kFlagShift | kFlagAlternate;
  postCommandKeyChord(f.agent, 9);
  ASSERT_EQ(f.desktop.postedKeys.size(), 2u);
  expectKey(f.desktop.postedKeys[0], 9, true, true);
  expectKey(f.desktop.postedKeys[1], 9, false, true);
  EXPECT_EQ(f.desktop.eventSourcesCreated, 1);
}

TEST(CommandKeyChord, GoesOnWithoutAnEventSource) {
  Fixture f;
  f.desktop.eventSourceAvailable = false;
  postCommandKeyChord(f.agent, 8);
  ASSERT_EQ(f.desktop.postedKeys.size(), 2u);
  expectKey(f.desktop.postedKeys[0], 8, true, false);
  expectKey(f.desktop.postedKeys[1], 8, false, false);
}

TEST(CommandKeyChord, AnEventThatCannotBeCreatedIsSkippedAndTheOtherStillPosted) {
  Fixture f;
  f.desktop.keyDownCreatable = false;
  postCommandKeyChord(f.agent, 9);
  ASSERT_EQ(f.desktop.postedKeys.size(), 1u);
  expectKey(f.desktop.postedKeys[0], 9, false, true);

  f.desktop.keyDownCreatable = true;
  f.desktop.keyUpCreatable = false;
  f.desktop.postedKeys.clear();
  postCommandKeyChord(f.agent, 9);
  ASSERT_EQ(f.desktop.postedKeys.size(), 1u);
  expectKey(f.desktop.postedKeys[0], 9, true, true);
}

// A host that floods the agent while a read is in flight: once trust is gone, every queued
// transfer is refused in turn, in order, without the refusals piling up on the stack.
TEST(TransferQueue, ALongRunOfRefusalsBehindATransferIsServedInOrder) {
  Fixture f;
  f.sim.trusted = true;
  f.desktop.onCopy = platform::SimDesktop::OnCopy::ignores;
  readSelection(f.agent);
  f.sim.trusted = false;
  constexpr int kQueued = 200000;
  for (int i = 0; i < kQueued; ++i) {
    if (i % 2 == 0) {
      pasteIntoFrontmostApp(f.agent, "x");
    } else {
      readSelection(f.agent);
    }
  }
  EXPECT_TRUE(f.lines.empty());
  EXPECT_EQ(f.agent.transfers.waiting(), static_cast<std::size_t>(kQueued));
  drainVirtualTime(f.loop, f.clock);
  ASSERT_EQ(f.lines.size(), static_cast<std::size_t>(kQueued) + 1);
  EXPECT_EQ(f.lines[0], "{\"type\":\"selection\",\"ok\":false,\"reason\":\"empty\"}\n");
  EXPECT_EQ(f.lines[1], "{\"type\":\"paste\",\"ok\":false,\"reason\":\"accessibility\"}\n");
  EXPECT_EQ(f.lines[2], "{\"type\":\"selection\",\"ok\":false,\"reason\":\"accessibility\"}\n");
  EXPECT_EQ(f.lines.back(), f.lines[2]);
  EXPECT_TRUE(f.agent.transfers.idle());
  EXPECT_FALSE(f.loop.hasPendingWork());
}

}  // namespace
}  // namespace deskagent
