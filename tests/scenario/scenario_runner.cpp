#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "agent/protocol.hpp"
#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

std::map<std::string, ScenarioAction>& registry() {
  static std::map<std::string, ScenarioAction> actions;
  return actions;
}

struct Step {
  int lineNumber;
  std::string text;
};

std::vector<Step> readScript(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<Step> steps;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    auto last = line.find_last_not_of(" \t\r");
    steps.push_back({n, line.substr(first, last - first + 1)});
  }
  return steps;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

class Runner {
 public:
  explicit Runner(ScenarioContext& context) : c_(context) {}

  void step(const Step& s) {
    line_ = s.lineNumber;
    if (s.text.starts_with("<")) {
      expected_.push_back({s.lineNumber, s.text.substr(1)});
      return;
    }
    check();
    if (s.text == "start") {
      c_.agent->start();
      c_.loop.runUntilIdle();
      if (c_.lines.empty() || c_.lines[0] != "{\"type\":\"ready\"}\n") fail("no ready first");
      seen_ = 1;
    } else if (s.text.starts_with(">")) {
      std::string command = s.text.substr(s.text.find_first_not_of(" ", 1));
      // As the reader does: the line is posted to the loop, which then serves it.
      c_.loop.post([this, command] { handleCommand(*c_.agent, command); });
      c_.loop.runUntilIdle();
    } else if (s.text.starts_with("+")) {
      advanceVirtualTime(c_.loop, c_.clock, parseDuration(s.text.substr(1)));  // "+1.5s"
    } else if (s.text == "end-of-input") {
      drainVirtualTime(c_.loop, c_.clock);
      if (c_.loop.hasPendingWork()) fail("work still pending after end of input");
    } else {
      auto w = words(s.text);
      auto it = registry().find(w[0]);
      if (it == registry().end()) throw ScenarioError("unknown step: " + s.text);
      std::vector<std::string> args(w.begin() + 1, w.end());
      it->second(c_, args);
      c_.loop.runUntilIdle();
    }
  }

  void finish() {
    check();
    drainVirtualTime(c_.loop, c_.clock);
    if (c_.loop.hasPendingWork()) fail("work still pending at the end of the scenario");
    check();  // nothing may have come out while draining
  }

 private:
  // The events since the previous step must be exactly the expected ones.
  void check() {
    std::vector<std::string> actual(c_.lines.begin() + static_cast<long>(seen_), c_.lines.end());
    seen_ = c_.lines.size();
    bool same = actual.size() == expected_.size();
    for (std::size_t i = 0; same && i < actual.size(); ++i) {
      json a = json::parse(actual[i], nullptr, false);
      json e = json::parse(expected_[i].second, nullptr, false);
      if (e.is_discarded()) fail("line " + std::to_string(expected_[i].first) + " is not JSON");
      same = a == e;
    }
    if (!same) {
      std::ostringstream diff;
      diff << "events before line " << line_ << " differ\n  expected:\n";
      for (auto& [n, text] : expected_) diff << "    " << text << "   (line " << n << ")\n";
      if (expected_.empty()) diff << "    (none)\n";
      diff << "  actual:\n";
      for (auto& text : actual) diff << "    " << text.substr(0, text.size() - 1) << "\n";
      if (actual.empty()) diff << "    (none)\n";
      expected_.clear();
      throw ScenarioError(diff.str());
    }
    expected_.clear();
  }

  [[noreturn]] void fail(const std::string& message) {
    throw ScenarioError("line " + std::to_string(line_) + ": " + message);
  }

  ScenarioContext& c_;
  std::vector<std::pair<int, std::string>> expected_;
  std::size_t seen_ = 0;
  int line_ = 0;
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
    for (const Step& s : readScript(path)) {
      lastLine = s.lineNumber;
      runner.step(s);
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

long long argInt(const std::vector<std::string>& args, std::size_t i) {
  if (i >= args.size()) throw ScenarioError("missing argument " + std::to_string(i + 1));
  try {
    return std::stoll(args[i], nullptr, 0);
  } catch (const std::exception&) {
    throw ScenarioError("not a number: " + args[i]);
  }
}

const std::string& argWord(const std::vector<std::string>& args, std::size_t i) {
  if (i >= args.size()) throw ScenarioError("missing argument " + std::to_string(i + 1));
  return args[i];
}

Duration parseDuration(const std::string& text) {
  std::string number = text;
  double scale = 1e9;
  if (number.ends_with("ms")) {
    number.resize(number.size() - 2);
    scale = 1e6;
  } else if (number.ends_with("s")) {
    number.pop_back();
  } else {
    throw ScenarioError("a duration reads 1.5s or 250ms: " + text);
  }
  return Duration(static_cast<Duration::rep>(std::stod(number) * scale + 0.5));
}

void expectEqual(long long actual, long long expected, const std::string& what) {
  if (actual != expected) {
    throw ScenarioError(what + ": expected " + std::to_string(expected) + ", got " +
                        std::to_string(actual));
  }
}

}  // namespace deskagent::testing
