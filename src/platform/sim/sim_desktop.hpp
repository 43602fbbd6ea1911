#pragma once

#include "platform/platform.hpp"

namespace deskagent::platform {

// The simulated clipboard and the frontmost application that reacts to posted chords.
class SimDesktop {
 public:
  explicit SimDesktop(MainLoop& loop) : loop_(loop) {}

 private:
  [[maybe_unused]] MainLoop& loop_;
};

}  // namespace deskagent::platform
