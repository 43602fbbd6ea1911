// libFuzzer target: the event writer. Events of any names and values, strings of any bytes,
// must come out as one well-formed line that reads back as the same members, in order, with
// ill-formed UTF-8 as U+FFFD.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "agent/event.hpp"
#include "agent/utf8.hpp"
#include "fuzz/output_check.hpp"

using namespace deskagent;
using nlohmann::json;

namespace {

// The members of a parsed object in the order written, duplicates kept.
struct MemberList : nlohmann::json_sax<json> {
  std::vector<std::string> names;
  json values = json::array();
  bool null() override { return false; }
  bool boolean(bool b) override { return add(b); }
  bool number_integer(number_integer_t n) override { return add(n); }
  bool number_unsigned(number_unsigned_t n) override { return add(n); }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool string(string_t& s) override { return add(s); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return !open++; }
  bool key(string_t& k) override {
    names.push_back(k);
    return true;
  }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return false; }
  bool end_array() override { return false; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
  template <typename T>
  bool add(const T& value) {
    values.push_back(value);
    return true;
  }
  int open = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Event event{{"type", in.ConsumeRandomLengthString(64)}};
  while (in.remaining_bytes() > 0) {
    std::string name = in.ConsumeRandomLengthString(32);
    if (name == "type") continue;  // every event has one "type", the string it starts with
    switch (in.ConsumeIntegralInRange(0, 2)) {
      case 0:
        event.members.emplace_back(name, in.ConsumeRandomLengthString(4096));
        break;
      case 1:
        event.members.emplace_back(name, in.ConsumeBool());
        break;
      default:
        event.members.emplace_back(name, in.ConsumeIntegral<std::int64_t>());
    }
  }

  std::string line = serializeEvent(event) + "\n";
  fuzzing::checkEventLine(line);
  MemberList read;
  if (!json::sax_parse(line, &read)) std::abort();
  if (read.names.size() != event.members.size()) std::abort();
  for (std::size_t i = 0; i < event.members.size(); ++i) {
    const auto& [name, value] = event.members[i];
    if (read.names[i] != sanitizeUtf8(name)) std::abort();
    const json& got = read.values[i];
    const auto& v = value.get();
    if (const auto* s = std::get_if<std::string>(&v)) {
      if (got != sanitizeUtf8(*s)) std::abort();
    } else if (const auto* b = std::get_if<bool>(&v)) {
      if (got != *b) std::abort();
    } else if (got != std::get<std::int64_t>(v)) {
      std::abort();
    }
  }
  return 0;
}
