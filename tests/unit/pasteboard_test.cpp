// The command-key chord as the system receives it, and the transfer queue under load.

#include "agent/pasteboard.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/modifier_keys.hpp"
#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using platform::SimDesktop;

struct Key {
  std::uint16_t keyCode;
  bool keyDown;
  bool hadSource;
  bool operator==(const Key&) const = default;
};

TEST(CommandKeyChord, PostsDownThenUpAndGoesOnWithoutWhatCannotBeCreated) {
  struct Row {
    const char* what;
    void (*setUp)(SimDesktop&);
    std::uint16_t keyCode;
    std::vector<Key> posted;
  };
  const Row rows[] = {
      {"the user holds Shift and Option",
       [](SimDesktop& d) { d.heldModifiers = platform::kFlagShift | platform::kFlagAlternate; },
       9,
       {{9, true, true}, {9, false, true}}},
      {"no event source",
       [](SimDesktop& d) { d.eventSourceAvailable = false; },
       8,
       {{8, true, false}, {8, false, false}}},
      {"no key-down", [](SimDesktop& d) { d.keyDownCreatable = false; }, 9, {{9, false, true}}},
      {"no key-up", [](SimDesktop& d) { d.keyUpCreatable = false; }, 9, {{9, true, true}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScenarioContext c;
    row.setUp(c.sim.desktop());
    postCommandKeyChord(*c.agent, row.keyCode);
    // Each key carries Command alone, and a source lets the user's own events through.
    std::vector<Key> posted;
    for (const auto& key : c.sim.desktop().postedKeys) {
      EXPECT_EQ(key.flags, platform::kFlagCommand);
      EXPECT_EQ(key.localEventsPermitted, key.hadSource);
      posted.push_back({key.keyCode, key.keyDown, key.hadSource});
    }
    EXPECT_EQ(posted, row.posted);
    EXPECT_EQ(c.sim.desktop().eventSourcesCreated, c.sim.desktop().eventSourceAvailable ? 1 : 0);
  }
}

// Where a key's modifiers are typed as keys of their own (macOS): the left key of each goes down
// before the press, in a fixed order, and up after the release, in reverse, each event with the
// modifiers down once it has happened; lock and Fn flags are no keys to press.
TEST(CommandKeyChord, ModifiersAreTypedAroundTheKeyAsAKeyboardTypesThem) {
  using platform::KeyStroke;
  constexpr std::uint64_t kShiftCommand = platform::kFlagShift | platform::kFlagCommand;
  constexpr std::uint64_t kControlOption = platform::kFlagControl | platform::kFlagAlternate;
  struct Row {
    bool keyDown;
    std::uint64_t flags;
    std::vector<KeyStroke> before, after;
  };
  const Row rows[] = {
      {true, platform::kFlagCommand, {{55, true, platform::kFlagCommand | 0x8}}, {}},
      {false, platform::kFlagCommand, {}, {{55, false, 0}}},
      {true,
       kShiftCommand | kControlOption,
       {{59, true, platform::kFlagControl | 0x1},
        {58, true, kControlOption | 0x21},
        {56, true, kControlOption | platform::kFlagShift | 0x23},
        {55, true, kControlOption | kShiftCommand | 0x2B}},
       {}},
      {false, kShiftCommand, {}, {{55, false, platform::kFlagShift | 0x2}, {56, false, 0}}},
      {true, platform::kFlagAlphaShift | platform::kFlagSecondaryFn, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.flags << (row.keyDown ? " down" : " up"));
    platform::ModifierStrokes strokes = platform::modifierStrokesAround(row.keyDown, row.flags);
    EXPECT_EQ(strokes.before, row.before);
    EXPECT_EQ(strokes.after, row.after);
  }
}

// Runs `work` on a thread with a small stack: work whose depth grows with its input overflows it.
void onSmallStack(std::function<void()> work) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_t thread;
  auto run = [](void* w) -> void* {
    (*static_cast<std::function<void()>*>(w))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// A host that floods the agent while a read is in flight: once trust is gone, every queued
// transfer is refused in turn, in order, without the refusals piling up on the stack.
TEST(TransferQueue, ALongRunOfRefusalsBehindATransferIsServedInOrder) {
  ScenarioContext c;
  c.sim.trusted = true;
  c.sim.desktop().onCopy = SimDesktop::OnCopy::ignores;
  readSelection(*c.agent);
  c.sim.trusted = false;
  constexpr int kQueued = 20000;
  for (int i = 0; i < kQueued; ++i) {
    if (i % 2 == 0) {
      pasteIntoFrontmostApp(*c.agent, "x");
    } else {
      readSelection(*c.agent);
    }
  }
  onSmallStack([&] { drainVirtualTime(c.loop, c.clock); });
  ASSERT_EQ(c.lines.size(), static_cast<std::size_t>(kQueued) + 1);
  EXPECT_EQ(c.lines[0], "{\"type\":\"selection\",\"ok\":false,\"reason\":\"empty\"}\n");
  EXPECT_EQ(c.lines[1], "{\"type\":\"paste\",\"ok\":false,\"reason\":\"accessibility\"}\n");
  EXPECT_EQ(c.lines[2], "{\"type\":\"selection\",\"ok\":false,\"reason\":\"accessibility\"}\n");
  EXPECT_EQ(c.lines.back(), c.lines[2]);
}

}  // namespace
}  // namespace deskagent::testing
