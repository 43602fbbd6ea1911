#pragma once

#include <chrono>

namespace deskagent {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

// Where the main loop gets "now" from. The real clock is monotonic; tests use the virtual one
// and move it by hand, so delays of seconds run instantly and always in the same order.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
};

class RealClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

class VirtualClock final : public Clock {
 public:
  TimePoint now() const override { return now_; }
  void set(TimePoint t) { now_ = t; }
  void advance(Duration d) { now_ += d; }

 private:
  TimePoint now_{};
};

}  // namespace deskagent
