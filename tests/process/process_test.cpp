// The built agent as a host sees it, over pipes, on the headless backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "process/child_process.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

const std::string kHeadlessPermissions =
    R"({"type":"permissions","accessibility":false,"inputMonitoring":false,"microphone":"unknown"})";

json parse(const std::optional<std::string>& line) {
  return line ? json::parse(*line, nullptr, false) : json();
}

// Reads the ready line and the first permissions report.
void expectStartup(AgentProcess& agent) {
  EXPECT_EQ(agent.readLine(), std::optional<std::string>(R"({"type":"ready"})"));
  EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
}

// The end of output, exit status 0 and nothing on stderr.
void expectCleanExit(AgentProcess& agent) {
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.wait(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
}

TEST(Process, StartsWithReadyThenPermissionsAndExitsZeroAtEndOfInput) {
  AgentProcess agent;
  ASSERT_TRUE(agent.started());
  expectStartup(agent);
  agent.closeStdin();
  expectCleanExit(agent);
}

// Input written and closed before the agent has started: the start-up lines come first, then
// one answer per usable command, in order.
TEST(Process, InputThatEndsBeforeStartUpIsServedInOrder) {
  struct Row {
    const char* input;
    std::vector<std::string> answers;
  };
  const Row rows[] = {
      {"", {}},
      {"{\"type\":\"permissions\"}\n{\"type\":\"request\",\"scope\":\"accessibility\"}\n",
       {kHeadlessPermissions, kHeadlessPermissions}},
      // Headless: no tap and no transfers.
      {"{\"type\":\"watch\",\"keyCode\":61}\n"
       "{\"type\":\"paste\",\"text\":\"hello\"}\n"
       "{\"type\":\"read-selection\"}\n",
       {R"({"type":"tap","active":false,"reason":"permission"})",
        R"({"type":"paste","ok":false,"reason":"accessibility"})",
        R"({"type":"selection","ok":false,"reason":"accessibility"})"}},
      // Blank and ill-formed lines leave no trace; a carriage return before the line feed is
      // white space. (Which well-formed lines are no command is the dispatcher's test.)
      {"\n   \t\n{\"type\":\"\xff\xfe\"}\n\xc3\x28\x80\n{\"type\":\"permissions\"}\r\n",
       {kHeadlessPermissions}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    AgentProcess agent;
    agent.write(row.input);
    agent.closeStdin();
    expectStartup(agent);
    for (const auto& answer : row.answers) EXPECT_EQ(parse(agent.readLine()), json::parse(answer));
    expectCleanExit(agent);
  }
}

TEST(Process, TenThousandLinesAreServedInOrder) {
  AgentProcess agent;
  // A reader thread drains stdout while we write, as a host must.
  std::string input;
  const char* commands[] = {"{\"type\":\"permissions\"}\n", "{\"type\":\"paste\",\"text\":\"a\"}\n",
                            "{\"type\":\"read-selection\"}\n"};
  const char* types[] = {"permissions", "paste", "selection"};
  for (int i = 0; i < 10000; ++i) input += commands[i % 3];
  std::thread writer([&] {
    agent.write(input);
    agent.closeStdin();
  });
  expectStartup(agent);
  std::vector<std::string> seen;
  for (auto line = agent.readLine(); line; line = agent.readLine()) {
    seen.push_back(parse(line)["type"].get<std::string>());
  }
  writer.join();
  ASSERT_EQ(seen.size(), 10000u);
  for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], types[i % 3]) << "line " << i;
  expectCleanExit(agent);
}

// The most memory the process has held, in MiB.
[[maybe_unused]] long peakResidentMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  }
  return -1;
}

// A huge line is dealt with and the next command answered, holding no more than about twice the
// line (or the 64 MiB the reader keeps of an overlong one). Deep nesting is refused as it streams.
TEST(Process, AHugeLineIsDealtWithAndTheNextOneServed) {
  struct Row {
    const char* head;
    char fill;
    std::size_t mib;
    const char* tail;
  };
  const Row rows[] = {
      {"{\"type\":\"paste\",\"text\":\"", 'x', 70, "\"}"},  // over the limit: dropped
      {"", '[', 16, ""},
      {"", '[', 63, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.fill << " " << row.mib << " MiB");
    AgentProcess agent;
    std::thread writer([&] {
      std::string chunk(1 << 20, row.fill);
      agent.write(row.head);
      for (std::size_t i = 0; i < row.mib; ++i) agent.write(chunk);
      agent.write(row.tail);
      agent.write("\n{\"type\":\"permissions\"}\n");
    });
    expectStartup(agent);
    EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
#ifndef DESKAGENT_SANITIZED  // sanitizers keep freed memory in quarantine
    EXPECT_LT(peakResidentMiB(agent.pid()),
              2 * static_cast<long>(std::min<std::size_t>(row.mib, 64)) + 16);
#endif
    writer.join();
    agent.closeStdin();
    expectCleanExit(agent);
  }
}

TEST(Process, AHostThatClosesOurOutputDoesNotKillUs) {
  AgentProcess agent;
  expectStartup(agent);
  agent.closeStdout();
  for (int i = 0; i < 100; ++i) agent.write("{\"type\":\"permissions\"}\n");
  agent.closeStdin();
  expectCleanExit(agent);
}

}  // namespace
}  // namespace deskagent::testing
