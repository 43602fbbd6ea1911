#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/platform.hpp"

namespace deskagent::platform {

struct SimTapState;

// The simulated keyboard and the system's tap service. Keys are macOS virtual key codes; a
// modifier key's press or release reaches every listening tap as a flagsChanged event carrying
// the flags the real system would put on it: the device-dependent bit of every modifier held,
// the device-independent bits, the Caps Lock state and the secondary-fn bit while Fn is held.
class SimKeyboard {
 public:
  explicit SimKeyboard(MainLoop& loop) : loop_(loop) {}
  SimKeyboard(const SimKeyboard&) = delete;
  SimKeyboard& operator=(const SimKeyboard&) = delete;

  // --- The tap service ---
  // Where the system grants a tap; may change at any time.
  bool hidGrantsTaps = true;
  bool sessionGrantsTaps = true;
  // Taps stay installed but hear no key at all, as when the user withdraws input access.
  bool tapsDeaf = false;
  // When set, the system grants only this many more taps and refuses every one after them,
  // whatever the locations say (a grant withdrawn between two creations).
  std::optional<int> tapsLeftToGrant;
  // Whether currentFlags() carries the device-dependent (left/right) bits, which nothing
  // promises of the real call; tap events always carry them.
  bool stateHasDeviceBits = true;

  std::unique_ptr<EventTap> createTap(TapLocation location, TapCallback callback);
  std::unique_ptr<RunLoopSource> createSource(EventTap& tap);

  // The system turns every enabled tap off (a slow callback, or secure input) and tells its
  // owner through the tap. Until the owner enables it again the tap sees no key change.
  // Returns how many taps it turned off.
  int disableTaps(TapEventType reason);
  // The service behind every tap goes away (a display that closed): the taps are invalid for
  // good and say so. Returns how many were lost.
  int loseTaps();

  // --- The keyboard ---
  // False, and nothing happens, when the key is already down (press) or up (release).
  bool press(std::int64_t keyCode);
  bool release(std::int64_t keyCode);
  bool isHeld(std::int64_t keyCode) const { return held_.contains(keyCode); }
  // CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState): what the keys say right now,
  // whether or not any tap is listening.
  std::uint64_t currentFlags() const;

  // --- What the agent did with the tap service ---
  std::vector<TapLocation> locationsTried;  // every creation, granted or refused, in order
  int tapsCreated = 0;
  int liveTaps() const;       // created and not yet released
  int listeningTaps() const;  // would see a key change now

 private:
  void post(const std::shared_ptr<SimTapState>& tap, TapEventType type, const KeyboardEvent& event);
  void modifierChanged(std::int64_t keyCode);
  std::uint64_t eventFlags() const;  // what a flagsChanged event carries now

  MainLoop& loop_;
  std::set<std::int64_t> held_;
  bool capsLockOn_ = false;
  std::vector<std::shared_ptr<SimTapState>> taps_;
};

}  // namespace deskagent::platform
