// Scenario steps for what the user does on the simulated keyboard, what the system's tap service
// and its permissions allow, and checks of what the agent asked of them.

#include <string>

#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using platform::SimKeyboard;
using platform::TapEventType;
using platform::TapLocation;

void pressOrRelease(SimKeyboard& keyboard, const std::string& verb, long long keyCode) {
  if (verb == "press") {
    if (!keyboard.press(keyCode)) throw ScenarioError(std::to_string(keyCode) + " is already down");
  } else if (verb == "release") {
    if (!keyboard.release(keyCode)) throw ScenarioError(std::to_string(keyCode) + " is not down");
  } else {
    throw ScenarioError("press or release, not " + verb);
  }
}

// press N... / release N...: the user presses or lets go of these keys (virtual key codes), one
// after the other.
void eachKey(ScenarioContext& c, const std::string& verb, const Args& args) {
  if (args.empty()) throw ScenarioError(verb + " needs a key code");
  for (std::size_t i = 0; i < args.size(); ++i) {
    pressOrRelease(c.sim.keyboard(), verb, argInt(args, i));
  }
}
SCENARIO_ACTION("press", [](ScenarioContext& c, const Args& args) { eachKey(c, "press", args); });
SCENARIO_ACTION("release",
                [](ScenarioContext& c, const Args& args) { eachKey(c, "release", args); });

// tap-locations none|session|both: where the system grants a tap from now on.
SCENARIO_ACTION("tap-locations", [](ScenarioContext& c, const Args& args) {
  const std::string& which = argWord(args, 0);
  if (which != "none" && which != "session" && which != "both") {
    throw ScenarioError("tap-locations none|session|both, not " + which);
  }
  c.sim.keyboard().hidGrantsTaps = which == "both";
  c.sim.keyboard().sessionGrantsTaps = which != "none";
});

// lose-taps: the system's tap service goes away; every tap is invalid from now on.
SCENARIO_ACTION("lose-taps", [](ScenarioContext& c, const Args&) { c.sim.keyboard().loseTaps(); });

// taps-deaf yes|no: installed taps hear no key (input access withdrawn).
SCENARIO_ACTION("taps-deaf", [](ScenarioContext& c, const Args& args) {
  c.sim.keyboard().tapsDeaf = argYes(args, 0);
});

// state-device-bits yes|no: whether the keyboard's flags state carries the left/right bits.
SCENARIO_ACTION("state-device-bits", [](ScenarioContext& c, const Args& args) {
  c.sim.keyboard().stateHasDeviceBits = argYes(args, 0);
});

// tap-grants-left N|any: the system grants only N more taps, then refuses, wherever asked.
SCENARIO_ACTION("tap-grants-left", [](ScenarioContext& c, const Args& args) {
  if (argWord(args, 0) == "any") {
    c.sim.keyboard().tapsLeftToGrant.reset();
  } else {
    c.sim.keyboard().tapsLeftToGrant = static_cast<int>(argInt(args, 0));
  }
});

// disable-tap timeout|user-input [press N | release N]...: the system turns the tap off, and
// the user does what follows before the agent's loop hears of it.
SCENARIO_ACTION("disable-tap", [](ScenarioContext& c, const Args& args) {
  const std::string& reason = argWord(args, 0);
  if (reason != "timeout" && reason != "user-input") {
    throw ScenarioError("disable-tap timeout|user-input, not " + reason);
  }
  auto type =
      reason == "timeout" ? TapEventType::disabledByTimeout : TapEventType::disabledByUserInput;
  if (c.sim.keyboard().disableTaps(type) == 0) throw ScenarioError("no enabled tap to disable");
  for (std::size_t i = 1; i < args.size(); i += 2) {
    pressOrRelease(c.sim.keyboard(), args[i], argInt(args, i + 1));
  }
});

// trust yes|no: whether the agent is a trusted Accessibility client.
SCENARIO_ACTION("trust",
                [](ScenarioContext& c, const Args& args) { c.sim.trusted = argYes(args, 0); });

// input-monitoring N: the listen-event access type (0 granted, 1 denied, 2 unknown, ...).
SCENARIO_ACTION("input-monitoring", [](ScenarioContext& c, const Args& args) {
  c.sim.listenEventAccess = argInt(args, 0);
});

// trust-hears yes|no: whether Accessibility trust alone lets taps hear keys (as on macOS).
SCENARIO_ACTION("trust-hears",
                [](ScenarioContext& c, const Args& args) { c.sim.trustHears = argYes(args, 0); });

// answer-request yes|no: the user answers the open Input Monitoring dialog (there must be one).
SCENARIO_ACTION("answer-request", [](ScenarioContext& c, const Args& args) {
  if (c.sim.answerListenRequests(argYes(args, 0)) == 0) throw ScenarioError("no request is open");
});

// microphone N: the raw audio authorization status.
SCENARIO_ACTION("microphone", [](ScenarioContext& c, const Args& args) {
  c.sim.microphoneStatus = argInt(args, 0);
});

// --- Checks ---

// expect-tried none | hid|session...: the tap creations since the last such check, in order.
SCENARIO_ACTION("expect-tried", [](ScenarioContext& c, const Args& args) {
  std::string expected, actual;
  for (const auto& word : args) expected += " " + word;
  for (TapLocation location : c.sim.keyboard().locationsTried) {
    actual += location == TapLocation::hid ? " hid" : " session";
  }
  c.sim.keyboard().locationsTried.clear();
  if ((actual.empty() ? " none" : actual) != expected) throw ScenarioError("taps tried:" + actual);
});

// expect-taps LIVE LISTENING: taps the agent holds, and how many of them hear the keyboard.
SCENARIO_ACTION("expect-taps", [](ScenarioContext& c, const Args& args) {
  expectEqual(c.sim.keyboard().liveTaps(), argInt(args, 0), "live taps");
  expectEqual(c.sim.keyboard().listeningTaps(), argInt(args, 1), "listening taps");
});

// expect-timers N: repeating timers on the loop (the access watch, and the retry while refused).
SCENARIO_ACTION("expect-timers", [](ScenarioContext& c, const Args& args) {
  expectEqual(static_cast<long long>(c.loop.repeatingTimerCount()), argInt(args, 0),
              "repeating timers");
});

// prompts A I: how often the user was asked for Accessibility and for Input Monitoring.
SCENARIO_ACTION("prompts", [](ScenarioContext& c, const Args& args) {
  expectEqual(c.sim.accessibilityPrompts, argInt(args, 0), "Accessibility prompts");
  expectEqual(c.sim.inputMonitoringRequests, argInt(args, 1), "Input Monitoring requests");
});

}  // namespace
}  // namespace deskagent::testing
