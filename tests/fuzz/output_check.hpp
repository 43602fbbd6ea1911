#pragma once
// What every line the agent writes must be, checked without the agent's own code: one strict
// JSON object (the strict parser also rejects ill-formed UTF-8), flat, with a string "type",
// ended by its only line feed.

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

namespace deskagent::fuzzing {

inline void checkEventLine(std::string_view line) {
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) std::abort();
  nlohmann::json event = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!event.is_object()) std::abort();
  auto type = event.find("type");
  if (type == event.end() || !type->is_string()) std::abort();
  for (const auto& member : event.items()) {
    const auto& value = member.value();
    if (!value.is_string() && !value.is_boolean() && !value.is_number_integer()) std::abort();
  }
}

}  // namespace deskagent::fuzzing
