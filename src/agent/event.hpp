#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace deskagent {

// One value of an event: events are flat, and hold only these three kinds.
class EventValue {
 public:
  EventValue(std::string s) : value_(std::move(s)) {}
  EventValue(const char* s) : value_(std::string(s)) {}
  EventValue(bool b) : value_(b) {}
  EventValue(std::int64_t n) : value_(n) {}
  EventValue(int n) : value_(std::int64_t{n}) {}

  const std::variant<std::string, bool, std::int64_t>& get() const { return value_; }

 private:
  std::variant<std::string, bool, std::int64_t> value_;
};

// An event for the host: its members in the order they are written, "type" first.
struct Event {
  Event(std::initializer_list<std::pair<std::string, EventValue>> init) : members(init) {}
  std::vector<std::pair<std::string, EventValue>> members;
};

// The compact JSON text of the event, without the line feed: `/` written as `\/`, control
// characters escaped, other characters as raw UTF-8, ill-formed UTF-8 as U+FFFD.
std::string serializeEvent(const Event& event);

}  // namespace deskagent
