// What one modifier-change event costs the watcher: the per-event test for the three kinds of
// event a tap sees, and the whole way from the tap callback to a line in memory.

#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "agent/agent.hpp"
#include "loop/task_loop.hpp"
#include "platform/sim/sim_platform.hpp"

namespace deskagent {
namespace {

using platform::KeyboardEvent;

constexpr std::uint64_t kRightOptionDown = 0x80140;  // Right Option's device bit + Alternate
constexpr std::uint64_t kLeftOptionWithRightHeld = 0x80160;

// Where lines go: kept in memory, as a pipe's buffer would.
struct MemorySink {
  std::string text;
  std::size_t lines = 0;
  void write(std::string_view line) {
    if (text.size() > (1u << 20)) text.clear();
    text.append(line);
    ++lines;
  }
};

struct Fixture {
  explicit Fixture(std::optional<std::int64_t> watched) {
    agent.watcher->watchedKeyCode = watched;
    sink.text.reserve(2u << 20);
  }
  VirtualClock clock;
  TaskLoop loop{clock};
  platform::SimPlatform sim{loop};
  MemorySink sink;
  Agent agent{loop, sim, [this](std::string_view line) { sink.write(line); }};
};

void BM_HandleWatchedKeyTransition(benchmark::State& state) {
  Fixture f(61);
  const KeyboardEvent events[] = {{61, kRightOptionDown}, {61, 0x100}};
  std::size_t i = 0;
  for (auto _ : state) f.agent.watcher->handle(events[i++ & 1]);
  state.counters["lines"] = benchmark::Counter(static_cast<double>(f.sink.lines));
}
BENCHMARK(BM_HandleWatchedKeyTransition);

void BM_HandleWatchedKeyNoChange(benchmark::State& state) {
  Fixture f(61);
  KeyboardEvent up{61, 0x100};
  for (auto _ : state) f.agent.watcher->handle(up);
  benchmark::DoNotOptimize(f.sink.lines);
}
BENCHMARK(BM_HandleWatchedKeyNoChange);

void BM_HandleOtherKey(benchmark::State& state) {
  Fixture f(61);
  KeyboardEvent leftOption{58, kLeftOptionWithRightHeld};  // carries the watched key's bit
  for (auto _ : state) f.agent.watcher->handle(leftOption);
  benchmark::DoNotOptimize(f.sink.lines);
}
BENCHMARK(BM_HandleOtherKey);

void BM_HandleNoWatchedKey(benchmark::State& state) {
  Fixture f(std::nullopt);
  KeyboardEvent rightOption{61, kRightOptionDown};
  for (auto _ : state) f.agent.watcher->handle(rightOption);
  benchmark::DoNotOptimize(f.sink.lines);
}
BENCHMARK(BM_HandleNoWatchedKey);

// A platform that hands its tap callback to the benchmark, so events enter exactly where the
// system would call in.
class CallbackPlatform final : public platform::Platform {
 public:
  platform::TapCallback callback;

  bool isProcessTrusted(bool) override { return true; }
  std::int64_t checkListenEventAccess() override { return platform::kAccessGranted; }
  void requestListenEventAccess(std::function<void()>) override {}
  std::int64_t microphoneAuthorizationStatus() override { return 3; }
  std::unique_ptr<platform::EventTap> createEventTap(platform::TapLocation,
                                                     platform::TapCallback cb) override {
    callback = std::move(cb);
    return std::make_unique<Tap>();
  }
  std::unique_ptr<platform::RunLoopSource> createRunLoopSource(platform::EventTap&) override {
    return std::make_unique<Source>();
  }
  std::uint64_t currentModifierFlags() override { return 0x100; }
  std::unique_ptr<platform::EventSource> createEventSource() override { return nullptr; }
  std::unique_ptr<platform::SyntheticKeyEvent> createKeyboardEvent(platform::EventSource*,
                                                                   std::uint16_t, bool) override {
    return nullptr;
  }
  std::int64_t pasteboardChangeCount() override { return 0; }
  void listPasteboardTypes(platform::PasteboardListingCallback) override {}
  void readPasteboardType(std::size_t, const std::string&, const platform::PasteboardReadLimits&,
                          platform::PasteboardTypeCallback) override {}
  void readPasteboardText(platform::PasteboardTextCallback) override {}
  void writePasteboardContents(const platform::PasteboardContents&) override {}
  platform::PasteboardTextWrite writePasteboardTextNotifyingRead(
      const std::string&, platform::PasteboardReadCallback) override {
    return platform::PasteboardTextWrite::failed;
  }

 private:
  struct Tap final : platform::EventTap {
    void enable(bool) override {}
    void invalidate() override {}
  };
  struct Source final : platform::RunLoopSource {
    void addToMainLoop() override {}
    void removeFromMainLoop() override {}
  };
};

// From the tap callback to the emitted line: dispatch on the event type, the watcher's test,
// the event's JSON and the locked write into memory. Every event here is a transition.
void BM_CallbackToEmittedLine(benchmark::State& state) {
  VirtualClock clock;
  TaskLoop loop{clock};
  CallbackPlatform platform;
  MemorySink sink;
  Agent agent{loop, platform, [&sink](std::string_view line) { sink.write(line); }};
  agent.watcher->watchedKeyCode = 61;
  agent.watcher->install();
  const KeyboardEvent events[] = {{61, kRightOptionDown}, {61, 0x100}};
  std::size_t i = 0;
  for (auto _ : state) platform.callback(platform::TapEventType::flagsChanged, events[i++ & 1]);
  state.counters["lines"] = benchmark::Counter(static_cast<double>(sink.lines));
}
BENCHMARK(BM_CallbackToEmittedLine);

// The same through the simulated keyboard and the main loop: one press or release, posted to
// the loop as the system's port would be, served, written.
void BM_SimKeyToEmittedLineViaLoop(benchmark::State& state) {
  Fixture f(61);
  f.agent.watcher->install();
  auto& keyboard = f.sim.keyboard();
  bool down = false;
  for (auto _ : state) {
    down ? keyboard.release(61) : keyboard.press(61);
    down = !down;
    f.loop.runUntilIdle();
  }
  state.counters["lines"] = benchmark::Counter(static_cast<double>(f.sink.lines));
}
BENCHMARK(BM_SimKeyToEmittedLineViaLoop);

}  // namespace
}  // namespace deskagent
