// What one command costs inside the agent, from the line to the emitted event.

#include <benchmark/benchmark.h>

#include "agent/protocol.hpp"
#include "bench_agent.hpp"

namespace deskagent {
namespace {

using Fixture = BenchAgent;

void BM_PermissionsCommand(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) handleCommand(f.agent, R"({"type":"permissions"})");
  benchmark::DoNotOptimize(f.bytes);
}
BENCHMARK(BM_PermissionsCommand);

void BM_IgnoredLine(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) handleCommand(f.agent, R"({"type":"Permissions","keyCode":61.5})");
}
BENCHMARK(BM_IgnoredLine);

void BM_SerializeSelectionEvent(benchmark::State& state) {
  std::string text(static_cast<std::size_t>(state.range(0)), 'a');
  text += "\"/\n\xc3\xa9";
  for (auto _ : state) {
    auto line = serializeEvent(Event{{"type", "selection"}, {"ok", true}, {"text", text}});
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_SerializeSelectionEvent)->Arg(16)->Arg(4096);

}  // namespace
}  // namespace deskagent

BENCHMARK_MAIN();
