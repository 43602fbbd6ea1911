#pragma once

// Scenario tests: the agent on the simulated desktop and the virtual clock, driven by a small
// script per group of cases (tests/scenarios/*.scn). A script is a list of steps:
//
//   # comment
//   start                          the agent's start-up; its first line must be "ready"
//   > {"type":"watch","keyCode":61}   a command line from the host
//   < {"type":"tap","active":true,"listening":true}   an event expected since the last step
//   +1.5s   +250ms                 let virtual time pass
//   press 61                       any other word: a registered action on the simulated desktop
//
// Events are compared as JSON objects, in order. Every step first checks that the events since
// the previous step are exactly the "<" lines written after it. At the end nothing may be left
// pending and no further event may appear.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/agent.hpp"
#include "loop/task_loop.hpp"
#include "platform/sim/sim_platform.hpp"

namespace deskagent::testing {

struct ScenarioContext {
  ScenarioContext();
  VirtualClock clock;
  TaskLoop loop{clock};
  platform::SimPlatform sim{loop};
  std::vector<std::string> lines;  // every line the agent wrote
  std::unique_ptr<Agent> agent;
};

// Thrown by an action whose check fails, or whose arguments are off.
struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Args = std::vector<std::string>;
using ScenarioAction = std::function<void(ScenarioContext&, const Args& args)>;

// Makes `name` a step word. Returns true so it can initialise a static in the action's file.
bool registerScenarioAction(const std::string& name, ScenarioAction action);

// Helpers for actions.
long long argInt(const Args& args, std::size_t i);
const std::string& argWord(const Args& args, std::size_t i);
bool argYes(const Args& args, std::size_t i);     // "yes" or "no"
Duration parseDuration(const std::string& text);  // "1.5s" or "250ms"
void expectEqual(long long actual, long long expected, const std::string& what);

}  // namespace deskagent::testing

#define DESKAGENT_SCENARIO_CONCAT2(a, b) a##b
#define DESKAGENT_SCENARIO_CONCAT(a, b) DESKAGENT_SCENARIO_CONCAT2(a, b)
// Registers an action: SCENARIO_ACTION("press", [](ScenarioContext& c, const auto& args) {...});
#define SCENARIO_ACTION(name, ...)                                                          \
  [[maybe_unused]] static const bool DESKAGENT_SCENARIO_CONCAT(scenarioAction_, __LINE__) = \
      ::deskagent::testing::registerScenarioAction(name, __VA_ARGS__)
