// The main loop's ordering rules, on virtual time, and its real waits.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "loop/task_loop.hpp"
#ifdef _WIN32
#include "platform/windows/win_main_loop.hpp"
using RealLoop = deskagent::platform::windows::WinMainLoop;
#else
#include <unistd.h>

#include "loop/poll_loop.hpp"
using RealLoop = deskagent::PollLoop;
#endif

namespace deskagent {
namespace {

using namespace std::chrono_literals;

struct VirtualLoop {
  VirtualClock clock;
  TaskLoop loop{clock};
  std::string trace;
  Task mark(char c) {
    return [this, c] { trace.push_back(c); };
  }
};

// Also: a task cancelled by an earlier task of the same turn does not run, and a task scheduled by
// a task waits for the next turn.
TEST(Loop, DelayedTasksRunByDeadlineThenInSchedulingOrderOneTurnAtATime) {
  VirtualLoop v;
  TimerId cancelled = 0;
  v.loop.postDelayed(20ms, v.mark('c'));
  v.loop.postDelayed(10ms, [&] {
    v.trace += 'a';
    v.loop.cancel(cancelled);
  });
  v.loop.postDelayed(10ms, v.mark('b'));
  cancelled = v.loop.postDelayed(10ms, v.mark('x'));
  v.loop.post(v.mark('p'));
  advanceVirtualTime(v.loop, v.clock, 9ms);
  EXPECT_EQ(v.trace, "p");
  advanceVirtualTime(v.loop, v.clock, 1ms);
  EXPECT_EQ(v.trace, "pab");
  advanceVirtualTime(v.loop, v.clock, 100ms);
  EXPECT_EQ(v.trace, "pabc");
  EXPECT_FALSE(v.loop.hasPendingWork());

  v.trace.clear();
  v.loop.postDelayed(0ms, [&] {
    v.trace += 'a';
    v.loop.postDelayed(0ms, v.mark('c'));
    v.loop.post(v.mark('d'));
  });
  v.loop.postDelayed(0ms, v.mark('b'));
  v.loop.runOnce(false);
  EXPECT_EQ(v.trace, "ab");  // 'd' was posted after the turn began, 'c' is due next turn
  v.loop.runOnce(false);
  EXPECT_EQ(v.trace, "abcd");
}

// The grid of the ticks shows in the scenarios (the access watch ticks at exactly 1.5 s).
TEST(Loop, RepeatingTimersHoldNoLoopOpenAndStopWhenTheirHandleLetsGoEvenInATick) {
  VirtualLoop v;
  LoopHandle timer = v.loop.startRepeating(1s, v.mark('a'));
  // A handle given a new timer stops the old one; a tick may stop its own timer.
  timer = v.loop.startRepeating(1s, [&] {
    v.trace += 'b';
    timer.reset();
  });
  EXPECT_FALSE(v.loop.hasPendingWork());
  advanceVirtualTime(v.loop, v.clock, 5s);
  EXPECT_EQ(v.trace, "b");
}

#ifndef _WIN32
TEST(Loop, WatchesServeReadableFdsAndWhatALibraryHasBuffered) {
  VirtualClock clock;
  PollLoop loop{clock};
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  bool buffered = false;
  int calls = 0;
  LoopHandle watch = loop.watchReadable(
      fds[0],
      [&] {
        ++calls;
        char c;
        if (!buffered) {
          ASSERT_EQ(::read(fds[0], &c, 1), 1);
        }
        buffered = false;
      },
      [&] { return buffered; });
  loop.runUntilIdle();
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  loop.runUntilIdle();
  EXPECT_EQ(calls, 1);
  buffered = true;  // nothing on the fd, but the library holds an event
  loop.runUntilIdle();
  EXPECT_EQ(calls, 2);
  watch.reset();
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  loop.runUntilIdle();
  EXPECT_EQ(calls, 2);
  ::close(fds[0]);
  ::close(fds[1]);
}
#endif

// The loop waits with nothing scheduled until another thread posts; quitWhenIdle then lets the
// delayed work, and what that schedules, finish first.
TEST(Loop, APostFromAnotherThreadWakesItAndQuitWhenIdleFinishesDelayedWorkFirst) {
  RealClock clock;
  RealLoop loop(clock);
  std::string trace;
  std::thread other([&] {
    loop.post([&] {
      loop.postDelayed(5ms, [&] {
        trace += 'a';
        loop.postDelayed(5ms, [&] { trace += 'b'; });
      });
    });
    loop.quitWhenIdle();
  });
  loop.run();
  other.join();
  EXPECT_EQ(trace, "ab");
}

}  // namespace
}  // namespace deskagent
