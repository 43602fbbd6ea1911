#pragma once

#include "platform/platform.hpp"

namespace deskagent::platform {

// The simulated keyboard and the system's tap service.
class SimKeyboard {
 public:
  explicit SimKeyboard(MainLoop& loop) : loop_(loop) {}

 private:
  [[maybe_unused]] MainLoop& loop_;
};

}  // namespace deskagent::platform
