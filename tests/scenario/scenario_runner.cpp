#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "agent/protocol.hpp"
#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

std::map<std::string, ScenarioAction>& registry() {
  static std::map<std::string, ScenarioAction> actions;
  return actions;
}

// The steps of a script, each with its line number.
std::vector<std::pair<int, std::string>> readScript(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::pair<int, std::string>> steps;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    auto last = line.find_last_not_of(" \t\r");
    steps.push_back({n, line.substr(first, last - first + 1)});
  }
  return steps;
}

class Runner {
 public:
  explicit Runner(ScenarioContext& context) : c_(context) {}

  void step(const std::string& text) {
    if (text.starts_with("<")) {
      json event = json::parse(text.substr(1), nullptr, /*allow_exceptions=*/false);
      if (event.is_discarded()) throw ScenarioError("not JSON");
      expected_.push_back(event);
      return;
    }
    check();
    if (text == "start") {
      c_.agent->start();
      c_.loop.runUntilIdle();
      if (c_.lines.empty() || c_.lines[0] != "{\"type\":\"ready\"}\n") {
        throw ScenarioError("no ready first");
      }
      seen_ = 1;
    } else if (text.starts_with(">")) {
      std::string command = text.substr(text.find_first_not_of(" ", 1));
      // As the reader does: the line is posted to the loop, which then serves it.
      c_.loop.post([this, command] { handleCommand(*c_.agent, command); });
      c_.loop.runUntilIdle();
    } else if (text.starts_with("+")) {
      advanceVirtualTime(c_.loop, c_.clock, parseDuration(text.substr(1)));  // "+1.5s"
    } else {
      std::istringstream in(text);
      std::string name;
      in >> name;
      std::vector<std::string> args;
      for (std::string w; in >> w;) args.push_back(w);
      auto it = registry().find(name);
      if (it == registry().end()) throw ScenarioError("unknown step: " + text);
      it->second(c_, args);
      c_.loop.runUntilIdle();
    }
  }

  void finish() {
    check();
    drainVirtualTime(c_.loop, c_.clock);
    if (c_.loop.hasPendingWork()) throw ScenarioError("work still pending at the end");
    check();  // nothing may have come out while draining
  }

 private:
  // The events since the previous step must be exactly the expected ones.
  void check() {
    json actual = json::array();
    for (std::size_t i = seen_; i < c_.lines.size(); ++i) {
      actual.push_back(json::parse(c_.lines[i], nullptr, false));
    }
    seen_ = c_.lines.size();
    json expected = std::exchange(expected_, json::array());
    if (actual != expected) {
      throw ScenarioError("events differ\n  expected: " + expected.dump() +
                          "\n  actual:   " + actual.dump());
    }
  }

  ScenarioContext& c_;
  json expected_ = json::array();
  std::size_t seen_ = 0;
};

std::vector<std::string> scenarioFiles() {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(DESKAGENT_SCENARIO_DIR)) {
    if (entry.path().extension() == ".scn") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, Runs) {
  auto path = std::filesystem::path(DESKAGENT_SCENARIO_DIR) / (GetParam() + ".scn");
  ScenarioContext context;
  Runner runner(context);
  int lastLine = 0;
  try {
    for (const auto& [n, text] : readScript(path)) {
      lastLine = n;
      runner.step(text);
    }
    runner.finish();
  } catch (const std::exception& e) {
    FAIL() << path.string() << ":" << lastLine << ": " << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Scenario, ::testing::ValuesIn(scenarioFiles()),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace

ScenarioContext::ScenarioContext()
    : agent(std::make_unique<Agent>(loop, sim,
                                    [this](std::string_view line) { lines.emplace_back(line); })) {}

bool registerScenarioAction(const std::string& name, ScenarioAction action) {
  registry()[name] = std::move(action);
  return true;
}

long long argInt(const Args& args, std::size_t i) {
  if (i >= args.size()) throw ScenarioError("missing argument " + std::to_string(i + 1));
  try {
    return std::stoll(args[i], nullptr, 0);
  } catch (const std::exception&) {
    throw ScenarioError("not a number: " + args[i]);
  }
}

const std::string& argWord(const Args& args, std::size_t i) {
  if (i >= args.size()) throw ScenarioError("missing argument " + std::to_string(i + 1));
  return args[i];
}

bool argYes(const Args& args, std::size_t i) {
  const std::string& word = argWord(args, i);
  if (word != "yes" && word != "no") throw ScenarioError("yes or no, not " + word);
  return word == "yes";
}

Duration parseDuration(const std::string& text) {
  std::size_t end = 0;
  double number = std::stod(text, &end);
  std::string unit = text.substr(end);
  if (unit != "s" && unit != "ms") throw ScenarioError("a duration reads 1.5s or 250ms: " + text);
  return Duration(static_cast<Duration::rep>(number * (unit == "s" ? 1e9 : 1e6) + 0.5));
}

void expectEqual(long long actual, long long expected, const std::string& what) {
  if (actual != expected) {
    throw ScenarioError(what + ": expected " + std::to_string(expected) + ", got " +
                        std::to_string(actual));
  }
}

}  // namespace deskagent::testing
