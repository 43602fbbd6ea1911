// The simulated keyboard must put on its events the flag words the real system does, or the
// watcher's scenarios prove nothing: device bits per key, device-independent bits while either
// side is held, and Caps Lock as a lock state.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "loop/poll_loop.hpp"
#include "platform/sim/sim_keyboard.hpp"

namespace deskagent::platform {
namespace {

struct Seen {
  TapEventType type;
  std::int64_t keyCode;
  std::uint64_t flags;
  bool operator==(const Seen&) const = default;
};

class SimKeyboardFlags : public ::testing::Test {
 protected:
  void SetUp() override {
    tap = keyboard.createTap(TapLocation::hid, [this](TapEventType type, const KeyboardEvent& e) {
      seen.push_back({type, e.keyCode, e.flags});
    });
    ASSERT_NE(tap, nullptr);
    source = keyboard.createSource(*tap);
    source->addToMainLoop();
  }

  std::vector<Seen> take() {
    loop.runUntilIdle();
    return std::exchange(seen, {});
  }

  VirtualClock clock;
  PollLoop loop{clock};
  SimKeyboard keyboard{loop};
  std::unique_ptr<EventTap> tap;
  std::unique_ptr<RunLoopSource> source;
  std::vector<Seen> seen;
};

constexpr auto kChanged = TapEventType::flagsChanged;

TEST_F(SimKeyboardFlags, EachModifierCarriesEveryHeldKeysBitsAsTheSystemDoes) {
  EXPECT_EQ(keyboard.currentFlags(), 0x100u);
  keyboard.press(56);  // Left Shift
  keyboard.press(60);  // Right Shift
  keyboard.release(56);
  keyboard.press(61);  // Right Option
  keyboard.press(0);   // A: not a modifier, no flagsChanged
  EXPECT_EQ(take(), (std::vector<Seen>{{kChanged, 56, 0x20102},
                                       {kChanged, 60, 0x20106},
                                       {kChanged, 56, 0x20104},
                                       {kChanged, 61, 0xA0144}}));
  EXPECT_EQ(keyboard.currentFlags(), 0xA0144u);
  keyboard.release(60);
  keyboard.release(61);
  keyboard.press(62);  // Right Control
  keyboard.press(54);  // Right Command
  keyboard.press(63);  // Fn
  EXPECT_EQ(take(), (std::vector<Seen>{{kChanged, 60, 0x80140},
                                       {kChanged, 61, 0x100},
                                       {kChanged, 62, 0x42100},
                                       {kChanged, 54, 0x142110},
                                       {kChanged, 63, 0x942110}}));
}

TEST_F(SimKeyboardFlags, CapsLockReportsTheLockNotTheKey) {
  keyboard.press(57);
  keyboard.release(57);
  keyboard.press(57);
  keyboard.release(57);
  EXPECT_EQ(take(), (std::vector<Seen>{{kChanged, 57, 0x10100},
                                       {kChanged, 57, 0x10100},
                                       {kChanged, 57, 0x100},
                                       {kChanged, 57, 0x100}}));
}

}  // namespace
}  // namespace deskagent::platform
