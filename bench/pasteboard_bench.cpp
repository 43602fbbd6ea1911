// What one paste and one selection read cost inside the agent, from the command line to the
// restored clipboard, on the simulated desktop. The virtual clock leaves the fixed delays out.

#include <benchmark/benchmark.h>

#include "agent/protocol.hpp"
#include "bench_agent.hpp"

namespace deskagent {
namespace {

using platform::PasteboardContents;
using platform::PasteboardItem;
using platform::PasteboardRepresentation;

struct Fixture : BenchAgent {
  explicit Fixture(std::size_t imageBytes) {
    sim.trusted = true;
    PasteboardContents contents = platform::simPlainText("the user's own text");
    // Whatever else the user copied rides along in every save and restore.
    if (imageBytes > 0) {
      contents.items.push_back(PasteboardItem{
          {PasteboardRepresentation{platform::kSimImageType, std::string(imageBytes, 'x')}}});
    }
    sim.desktop().userCopies(std::move(contents));
    sim.desktop().selection = "the selected text";
  }
  // Runs the transfer to its end, then forgets what the simulated desktop recorded.
  void finish() {
    drainVirtualTime(loop, clock);
    sim.desktop().pasted.clear();
    sim.desktop().postedKeys.clear();
  }
};

void BM_Paste(benchmark::State& state) {
  Fixture f(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    handleCommand(f.agent, R"({"type":"paste","text":"dictated text"})");
    f.finish();
  }
  benchmark::DoNotOptimize(f.bytes);
}
BENCHMARK(BM_Paste)->Arg(0)->Arg(1 << 20);

void BM_ReadSelection(benchmark::State& state) {
  Fixture f(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    handleCommand(f.agent, R"({"type":"read-selection"})");
    f.finish();
  }
  benchmark::DoNotOptimize(f.bytes);
}
BENCHMARK(BM_ReadSelection)->Arg(0)->Arg(1 << 20);

// Nothing selected: the answer at 0.16 s and the watch for a late copy up to 1.0 s.
void BM_ReadNothingSelected(benchmark::State& state) {
  Fixture f(0);
  f.sim.desktop().onCopy = platform::SimDesktop::OnCopy::ignores;
  for (auto _ : state) {
    handleCommand(f.agent, R"({"type":"read-selection"})");
    f.finish();
  }
  benchmark::DoNotOptimize(f.bytes);
}
BENCHMARK(BM_ReadNothingSelected);

// The part that runs inside the command itself, before the loop gets back to other input.
void BM_PasteCommandOnly(benchmark::State& state) {
  Fixture f(0);
  for (auto _ : state) {
    handleCommand(f.agent, R"({"type":"paste","text":"dictated text"})");
    state.PauseTiming();
    f.finish();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(f.bytes);
}
BENCHMARK(BM_PasteCommandOnly);

}  // namespace
}  // namespace deskagent
