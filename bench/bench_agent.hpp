#pragma once

// An agent on the simulated desktop and a virtual clock, writing into a byte count: what the
// in-process benchmarks measure against.

#include "agent/agent.hpp"
#include "loop/task_loop.hpp"
#include "platform/sim/sim_platform.hpp"

namespace deskagent {

struct BenchAgent {
  VirtualClock clock;
  TaskLoop loop{clock};
  platform::SimPlatform sim{loop};
  std::size_t bytes = 0;
  Agent agent{loop, sim, [this](std::string_view line) { bytes += line.size(); }};
};

}  // namespace deskagent
