// Which lines the dispatcher acts on, one row per case.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>

#include "agent/protocol.hpp"
#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using namespace std::string_view_literals;

constexpr std::int64_t kUnchanged = 12345;  // the key watched before each row

TEST(Dispatch, WatchTakesOnlyWholeNumbersInTheSigned64BitRange) {
  // A line, and the key watched after it.
  const std::pair<const char*, std::optional<std::int64_t>> rows[] = {
      {R"({"type":"watch","keyCode":61})", 61},
      {R"({"type":"watch","keyCode":61.0})", 61},
      {R"({"type":"watch","keyCode":6.1e1})", 61},
      {R"({"type":"watch","keyCode":-0.0})", 0},
      {R"({"type":"watch","keyCode":0,"extra":{"a":[1]}})", 0},
      {R"({"type":"watch","keyCode":9223372036854775807})", INT64_MAX},
      {R"({"type":"watch","keyCode":-9223372036854775808})", INT64_MIN},
      {R"({"keyCode":61,"type":"watch"})", 61},
      {R"(  {"type":"watch","keyCode":61}  )", 61},
      {R"({"type":"watch","keyCode":61.5})", kUnchanged},
      {R"({"type":"watch","keyCode":"61"})", kUnchanged},
      {R"({"type":"watch","keyCode":null})", kUnchanged},
      {R"({"type":"watch","keyCode":true})", kUnchanged},
      {R"({"type":"watch","keyCode":[61]})", kUnchanged},
      {R"({"type":"watch","keyCode":9223372036854775808})", kUnchanged},
      {R"({"type":"watch","keyCode":9.3e18})", kUnchanged},
      {R"({"type":"watch","keyCode":-9223372036854775809})", kUnchanged},
      {R"({"type":"watch","keyCode":1e400})", kUnchanged},
      {R"({"type":"watch"})", kUnchanged},
      {R"({"type":"Watch","keyCode":61})", kUnchanged},
      {R"({"type":"watch ","keyCode":61})", kUnchanged},
      {R"({"type":"watch","keyCode":61)", kUnchanged},
      {R"({"type":["watch"],"keyCode":61})", kUnchanged},
      {R"({"type":"unwatch","keyCode":61})", std::nullopt},
      // A name given twice counts as its last value.
      {R"({"type":"watch","keyCode":"61","keyCode":61})", 61},
      {R"({"type":"watch","keyCode":61,"keyCode":"61"})", kUnchanged},
  };
  for (const auto& [line, key] : rows) {
    ScenarioContext c;
    c.agent->watcher->watchedKeyCode = kUnchanged;
    c.agent->watcher->isDown = true;
    handleCommand(*c.agent, line);
    EXPECT_EQ(c.agent->watcher->watchedKeyCode, key) << line;
    bool changed = key != std::optional<std::int64_t>(kUnchanged);
    EXPECT_EQ(c.agent->watcher->isDown, !changed) << line;
    if (!changed) {
      EXPECT_TRUE(c.lines.empty()) << line;
    }
  }
}

TEST(Dispatch, OtherCommandsAnswerWithTheirOwnEventOrNotAtAll) {
  // A line, and the "type" of each event that follows it.
  const std::pair<std::string_view, std::vector<const char*>> rows[] = {
      {"", {}},
      {"\"permissions\"", {}},
      {"{}", {}},
      {R"({"type":7})", {}},
      {R"({"type":"PERMISSIONS"})", {}},
      {R"({"type":"ready"})", {}},
      {R"([{"type":"permissions"}])", {}},
      {R"({"type":"permissions"} x)", {}},
      {R"({"type":"permissions"})", {"permissions"}},
      {R"({"type":"request","scope":null})", {"permissions"}},
      {R"({"type":"paste","text":""})", {}},
      {R"({"type":"paste"})", {}},
      {R"({"type":"paste","text":5})", {}},
      {R"({"type":"paste","text":"hi"})", {"paste"}},
      {R"({"type":"read-selection","text":"ignored"})", {"selection"}},
      // Half a surrogate pair, escaped on its own as encoders write it, is no reason to refuse.
      {R"({"type":"paste","text":"\ud800"})", {"paste"}},
      {R"({"type":"permissions","x":"\udc00\\ud800\ud83d"})", {"permissions"}},
      {R"({"type":"unwatch"})", {}},
      // The parser would stop at a NUL and not see what follows.
      {"{\"type\":\"permissions\"}\0junk"sv, {}},
      {"{\"type\":\"permissions\",\"x\":\"\0\"}"sv, {}},
      {R"({"type":"paste","text":"hi","text":5})", {}},
      {R"({"type":"paste","type":"read-selection","text":"hi"})", {"selection"}},
      // Commands are flat: what a host adds beside one may nest eight levels deep in all.
      {R"({"type":"permissions","x":[[[[[[{"y":1}]]]]]]})", {"permissions"}},
      {R"({"type":"permissions","x":[[[[[[[{"y":1}]]]]]]]})", {}},
      {R"({"type":"permissions","x":[[[[[[[[)", {}},
  };
  for (const auto& [line, events] : rows) {
    ScenarioContext c;  // untrusted: transfers answer at once
    handleCommand(*c.agent, line);
    drainVirtualTime(c.loop, c.clock);
    std::vector<std::string> types;
    for (const auto& written : c.lines) {
      types.push_back(nlohmann::json::parse(written)["type"].get<std::string>());
    }
    EXPECT_EQ(types, std::vector<std::string>(events.begin(), events.end())) << line;
  }
}

}  // namespace
}  // namespace deskagent::testing
