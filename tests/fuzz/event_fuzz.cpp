// libFuzzer target: the event writer. Events of any names and values, strings of any bytes,
// must come out as one well-formed line that reads back as the same members, in order, with
// ill-formed UTF-8 as U+FFFD.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <variant>

#include "agent/event.hpp"
#include "agent/utf8.hpp"
#include "fuzz/output_check.hpp"

using namespace deskagent;
using nlohmann::ordered_json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Event event{{"type", in.ConsumeRandomLengthString(64)}};
  // Names are distinct, once repaired, as in every event the agent writes: a parsed object keeps
  // only the last of equal names.
  std::set<std::string> names{"type"};
  while (in.remaining_bytes() > 0) {
    std::string name = in.ConsumeRandomLengthString(32);
    if (!names.insert(sanitizeUtf8(name)).second) continue;
    int kind = in.ConsumeIntegralInRange(0, 2);
    if (kind == 0) {
      event.members.emplace_back(name, in.ConsumeRandomLengthString(4096));
    } else {
      event.members.emplace_back(name, kind == 1 ? EventValue(in.ConsumeBool())
                                                 : EventValue(in.ConsumeIntegral<std::int64_t>()));
    }
  }

  std::string line = serializeEvent(event) + "\n";
  fuzzing::checkEventLine(line);
  ordered_json read = ordered_json::parse(line);
  if (read.size() != event.members.size()) std::abort();
  auto got = read.items().begin();
  for (const auto& [name, value] : event.members) {
    ordered_json expected = std::visit([](const auto& v) { return ordered_json(v); }, value.get());
    if (expected.is_string()) expected = sanitizeUtf8(expected.get<std::string>());
    if (got.key() != sanitizeUtf8(name) || got.value() != expected) std::abort();
    ++got;
  }
  return 0;
}
