// Scenario steps for what the user does on the simulated keyboard and what the system's tap
// service allows, and checks of what the agent asked of that service.

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

void eachKey(ScenarioContext& c, const std::string& verb, const std::vector<std::string>& args) {
  if (args.empty()) throw ScenarioError(verb + " needs a key code");
  for (std::size_t i = 0; i < args.size(); ++i) {
    pressOrRelease(c.sim.keyboard(), verb, argInt(args, i));
  }
}

// press N...: the user presses these keys (virtual key codes), one after the other.
SCENARIO_ACTION("press", [](ScenarioContext& c, const std::vector<std::string>& args) {
  eachKey(c, "press", args);
});

// release N...: the user lets go of these keys, one after the other.
SCENARIO_ACTION("release", [](ScenarioContext& c, const std::vector<std::string>& args) {
  eachKey(c, "release", args);
});

// tap-locations none|session|both: where the system grants a tap from now on.
SCENARIO_ACTION("tap-locations", [](ScenarioContext& c, const std::vector<std::string>& args) {
  const std::string& which = argWord(args, 0);
  if (which != "none" && which != "session" && which != "both") {
    throw ScenarioError("tap-locations none|session|both, not " + which);
  }
  c.sim.keyboard().hidGrantsTaps = which == "both";
  c.sim.keyboard().sessionGrantsTaps = which != "none";
});

// lose-taps: the system's tap service goes away; every tap is invalid from now on.
SCENARIO_ACTION("lose-taps", [](ScenarioContext& c, const std::vector<std::string>&) {
  c.sim.keyboard().loseTaps();
});

// taps-deaf yes|no: installed taps hear no key (input access withdrawn).
SCENARIO_ACTION("taps-deaf", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.keyboard().tapsDeaf = argWord(args, 0) == "yes";
});

// state-device-bits yes|no: whether the keyboard's flags state carries the left/right bits.
SCENARIO_ACTION("state-device-bits", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.keyboard().stateHasDeviceBits = argWord(args, 0) == "yes";
});

// tap-grants-left N|any: the system grants only N more taps, then refuses, wherever asked.
SCENARIO_ACTION("tap-grants-left", [](ScenarioContext& c, const std::vector<std::string>& args) {
  if (argWord(args, 0) == "any") {
    c.sim.keyboard().tapsLeftToGrant.reset();
  } else {
    c.sim.keyboard().tapsLeftToGrant = static_cast<int>(argInt(args, 0));
  }
});

// disable-tap timeout|user-input [press N | release N]...: the system turns the tap off, and
// the user does what follows before the agent's loop hears of it.
SCENARIO_ACTION("disable-tap", [](ScenarioContext& c, const std::vector<std::string>& args) {
  const std::string& reason = argWord(args, 0);
  TapEventType type;
  if (reason == "timeout") {
    type = TapEventType::disabledByTimeout;
  } else if (reason == "user-input") {
    type = TapEventType::disabledByUserInput;
  } else {
    throw ScenarioError("disable-tap timeout|user-input, not " + reason);
  }
  if (c.sim.keyboard().disableTaps(type) == 0) throw ScenarioError("no enabled tap to disable");
  for (std::size_t i = 1; i < args.size(); i += 2) {
    pressOrRelease(c.sim.keyboard(), args[i], argInt(args, i + 1));
  }
});

// expect-tried none | hid|session...: the tap creations since the last such check, in order.
SCENARIO_ACTION("expect-tried", [](ScenarioContext& c, const std::vector<std::string>& args) {
  std::string expected;
  for (const auto& word : args) {
    if (word != "none") expected += word + " ";
  }
  std::string actual;
  for (TapLocation location : c.sim.keyboard().locationsTried) {
    actual += location == TapLocation::hid ? "hid " : "session ";
  }
  c.sim.keyboard().locationsTried.clear();
  if (actual != expected) {
    throw ScenarioError("taps tried: expected [" + expected + "], got [" + actual + "]");
  }
});

// expect-taps LIVE LISTENING: taps the agent holds, and how many of them hear the keyboard.
SCENARIO_ACTION("expect-taps", [](ScenarioContext& c, const std::vector<std::string>& args) {
  expectEqual(c.sim.keyboard().liveTaps(), argInt(args, 0), "live taps");
  expectEqual(c.sim.keyboard().listeningTaps(), argInt(args, 1), "listening taps");
});

// expect-timers N: repeating timers on the loop (the access watch, and the retry while refused).
SCENARIO_ACTION("expect-timers", [](ScenarioContext& c, const std::vector<std::string>& args) {
  expectEqual(static_cast<long long>(c.loop.repeatingTimerCount()), argInt(args, 0),
              "repeating timers");
});

}  // namespace
}  // namespace deskagent::testing
