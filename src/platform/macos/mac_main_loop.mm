#include "platform/macos/mac_main_loop.hpp"

#include "loop/timer_queue.hpp"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

namespace deskagent::platform {
namespace {

// The wake timer's date when no timer is pending; CF clamps it to its own limit.
constexpr CFTimeInterval kDistantFuture = 1.0e10;

// Timers keep the poll loop's rules: one ordered queue by (deadline, sequence), served by a single
// run-loop timer set to the earliest deadline, so equal deadlines run in the order they were
// scheduled and a task scheduled by a due task waits for the next turn.
class MacMainLoop final : public MainLoop {
 public:
  MacMainLoop();
  ~MacMainLoop() override;
  MacMainLoop(const MacMainLoop&) = delete;
  MacMainLoop& operator=(const MacMainLoop&) = delete;

  TimePoint now() const override { return now_; }
  void updateNow() override { now_ = clock_.now(); }
  void post(Task task) override;
  TimerId postDelayed(Duration delay, Task task) override;
  LoopHandle startRepeating(Duration interval, Task tick) override;
  LoopHandle watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) override;
  void cancel(TimerId id) override;
  void run() override;
  void quitWhenIdle() override;

 private:
  struct Watch {
    MacMainLoop* loop;
    TimerId id;
    Task onReadable;
    std::function<bool()> hasPending;
    CFFileDescriptorRef descriptor = nullptr;
    CFRunLoopSourceRef source = nullptr;
  };

  TimerId schedule(TimePoint deadline, Duration interval, Task task);
  void runDueTimers();
  void armWakeTimer();
  void onRunLoopActivity(CFRunLoopActivity activity);
  static void onDescriptorReadable(CFFileDescriptorRef, CFOptionFlags, void* info);
  void serveWatch(TimerId id);
  void servePendingWatches();
  static void closeWatch(Watch& watch);
  bool readyToQuit() const;
  void stopIfIdle();

  RealClock clock_;
  TimePoint now_;
  TimerId nextId_ = 1;
  TimerQueue timers_;
  CFRunLoopTimerRef wakeTimer_ = nullptr;
  std::map<TimerId, std::unique_ptr<Watch>> watches_;
  CFRunLoopObserverRef turnObserver_ = nullptr;

  std::atomic<std::size_t> postedCount_{0};  // posted tasks not yet finished
  std::atomic<bool> quitRequested_{false};
};

MacMainLoop::MacMainLoop() : now_(clock_.now()) {
  CFRunLoopRef main = CFRunLoopGetMain();
  // Repeating with a distant interval, so it is never spent and keeps the run loop from being
  // empty; armWakeTimer moves its next date.
  auto onWake = ^(CFRunLoopTimerRef) {
    runDueTimers();
  };
  wakeTimer_ = CFRunLoopTimerCreateWithHandler(kCFAllocatorDefault,
                                               CFAbsoluteTimeGetCurrent() + kDistantFuture,
                                               kDistantFuture, 0, 0, onWake);
  CFRunLoopAddTimer(main, wakeTimer_, kCFRunLoopCommonModes);

  CFOptionFlags activities =
      kCFRunLoopEntry | kCFRunLoopBeforeTimers | kCFRunLoopBeforeWaiting | kCFRunLoopAfterWaiting;
  auto onActivity = ^(CFRunLoopObserverRef, CFRunLoopActivity activity) {
    onRunLoopActivity(activity);
  };
  turnObserver_ =
      CFRunLoopObserverCreateWithHandler(kCFAllocatorDefault, activities, true, 0, onActivity);
  CFRunLoopAddObserver(main, turnObserver_, kCFRunLoopCommonModes);
}

// A turn starts on entry, after every wake-up and before each pass over the timers: that is when
// "now" is read, also for the tap's source, which runs no code of the loop's own. Before the run
// loop sleeps, watches with buffered input are served.
void MacMainLoop::onRunLoopActivity(CFRunLoopActivity activity) {
  if (activity == kCFRunLoopBeforeWaiting) {
    servePendingWatches();
  } else {
    now_ = clock_.now();
  }
}

MacMainLoop::~MacMainLoop() {
  for (auto& [id, watch] : watches_) closeWatch(*watch);
  CFRunLoopObserverInvalidate(turnObserver_);
  CFRelease(turnObserver_);
  CFRunLoopTimerInvalidate(wakeTimer_);
  CFRelease(wakeTimer_);
}

void MacMainLoop::post(Task task) {
  ++postedCount_;
  dispatch_async(dispatch_get_main_queue(), ^{
    @autoreleasepool {
      task();
    }
    --postedCount_;
    stopIfIdle();
  });
}

TimerId MacMainLoop::schedule(TimePoint deadline, Duration interval, Task task) {
  TimerId id = nextId_++;
  timers_.add(id, deadline, interval, std::move(task));
  if (timers_.nextDeadline() == deadline) armWakeTimer();
  return id;
}

TimerId MacMainLoop::postDelayed(Duration delay, Task task) {
  if (delay < Duration::zero()) delay = Duration::zero();
  return schedule(now_ + delay, Duration::zero(), std::move(task));
}

LoopHandle MacMainLoop::startRepeating(Duration interval, Task tick) {
  if (interval <= Duration::zero()) interval = Duration(1);
  return LoopHandle(this, schedule(now_ + interval, interval, std::move(tick)));
}

void MacMainLoop::armWakeTimer() {
  CFAbsoluteTime date = CFAbsoluteTimeGetCurrent() + kDistantFuture;
  if (auto next = timers_.nextDeadline()) {
    std::chrono::duration<double> left = *next - clock_.now();
    date = CFAbsoluteTimeGetCurrent() + std::max(left.count(), 0.0);
  }
  // Also honoured from inside the timer's own callout: the new date always lies after the one
  // that has just fired.
  CFRunLoopTimerSetNextFireDate(wakeTimer_, date);
}

void MacMainLoop::runDueTimers() {
  now_ = clock_.now();
  @autoreleasepool {
    timers_.runDue(now_);
  }
  armWakeTimer();
  stopIfIdle();
}

// Watches are few (here only the notice of a signal to end): one CFFileDescriptor each,
// re-enabled after every callback as CF requires, and `hasPending` asked before the run loop
// sleeps.
LoopHandle MacMainLoop::watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) {
  TimerId id = nextId_++;
  auto watch =
      std::make_unique<Watch>(Watch{this, id, std::move(onReadable), std::move(hasPending)});
  CFFileDescriptorContext context = {0, watch.get(), nullptr, nullptr, nullptr};
  watch->descriptor =
      CFFileDescriptorCreate(kCFAllocatorDefault, fd, false, onDescriptorReadable, &context);
  if (watch->descriptor != nullptr) {
    watch->source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, watch->descriptor, 0);
    if (watch->source != nullptr) {
      CFRunLoopAddSource(CFRunLoopGetMain(), watch->source, kCFRunLoopCommonModes);
    }
    CFFileDescriptorEnableCallBacks(watch->descriptor, kCFFileDescriptorReadCallBack);
  }
  watches_.emplace(id, std::move(watch));
  return LoopHandle(this, id);
}

void MacMainLoop::onDescriptorReadable(CFFileDescriptorRef, CFOptionFlags, void* info) {
  auto* watch = static_cast<Watch*>(info);
  watch->loop->serveWatch(watch->id);
}

void MacMainLoop::serveWatch(TimerId id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  Task onReadable = it->second->onReadable;  // the task may drop its own watch
  @autoreleasepool {
    onReadable();
  }
  it = watches_.find(id);
  if (it != watches_.end() && it->second->descriptor != nullptr) {
    CFFileDescriptorEnableCallBacks(it->second->descriptor, kCFFileDescriptorReadCallBack);
  }
}

void MacMainLoop::servePendingWatches() {
  std::vector<TimerId> pending;
  for (auto& [id, watch] : watches_) {
    if (watch->hasPending && watch->hasPending()) pending.push_back(id);
  }
  for (TimerId id : pending) serveWatch(id);
  // Input still buffered after its callback: come round again instead of sleeping.
  for (auto& [id, watch] : watches_) {
    if (watch->hasPending && watch->hasPending()) {
      CFRunLoopWakeUp(CFRunLoopGetMain());
      return;
    }
  }
}

void MacMainLoop::closeWatch(Watch& watch) {
  if (watch.descriptor == nullptr) return;
  CFFileDescriptorInvalidate(watch.descriptor);  // takes its source off the run loop as well
  if (watch.source != nullptr) CFRelease(watch.source);
  CFRelease(watch.descriptor);
  watch.descriptor = nullptr;
  watch.source = nullptr;
}

void MacMainLoop::cancel(TimerId id) {
  if (auto watch = watches_.find(id); watch != watches_.end()) {
    closeWatch(*watch->second);
    watches_.erase(watch);
    return;
  }
  if (timers_.cancel(id)) stopIfIdle();  // that may have been the last thing to wait for
}

bool MacMainLoop::readyToQuit() const {
  return quitRequested_ && postedCount_ == 0 && timers_.oneShotCount() == 0;
}

void MacMainLoop::stopIfIdle() {
  if (readyToQuit()) CFRunLoopStop(CFRunLoopGetMain());
}

void MacMainLoop::run() {
  while (!readyToQuit()) CFRunLoopRun();
}

void MacMainLoop::quitWhenIdle() {
  quitRequested_ = true;
  post([] {});  // wakes the run loop, and stops it once this and everything before it has run
}

}  // namespace

std::unique_ptr<MainLoop> makeMacMainLoop() {
  return std::make_unique<MacMainLoop>();
}

}  // namespace deskagent::platform
