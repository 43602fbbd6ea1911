// Scenario steps that change or check what the simulated system says about permissions.

#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

// trust yes|no: whether the agent is a trusted Accessibility client.
SCENARIO_ACTION("trust", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.trusted = argWord(args, 0) == "yes";
});

// input-monitoring N: the listen-event access type (0 granted, 1 denied, 2 unknown, ...).
SCENARIO_ACTION("input-monitoring", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.listenEventAccess = argInt(args, 0);
});

// microphone N: the raw audio authorization status.
SCENARIO_ACTION("microphone", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.microphoneStatus = argInt(args, 0);
});

// prompts A I: how often the user was asked for Accessibility and for Input Monitoring.
SCENARIO_ACTION("prompts", [](ScenarioContext& c, const std::vector<std::string>& args) {
  expectEqual(c.sim.accessibilityPrompts, argInt(args, 0), "Accessibility prompts");
  expectEqual(c.sim.inputMonitoringRequests, argInt(args, 1), "Input Monitoring requests");
});

}  // namespace
}  // namespace deskagent::testing
