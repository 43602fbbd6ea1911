// The built agent as a host sees it, over pipes, on the headless backend.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "process/agent_process.hpp"

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
  EXPECT_EQ(agent.readLine(), std::optional<std::string>("{\"type\":\"ready\"}\n"));
  EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
}

TEST(Process, StartsWithReadyThenPermissionsAndExitsZeroAtEndOfInput) {
  AgentProcess agent;
  ASSERT_TRUE(agent.started());
  expectStartup(agent);
  agent.closeStdin();
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.waitExit(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
}

TEST(Process, CommandsWaitingBeforeStartAreAnsweredAfterTheFirstReport) {
  AgentProcess agent;
  agent.write("{\"type\":\"permissions\"}\n{\"type\":\"request\",\"scope\":\"accessibility\"}\n");
  agent.closeStdin();
  expectStartup(agent);
  EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
  EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.waitExit(), 0);
}

TEST(Process, InputAlreadyAtItsEnd) {
  AgentProcess agent;
  agent.closeStdin();
  expectStartup(agent);
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.waitExit(), 0);
}

TEST(Process, HeadlessRefusesTheTapAndTheTransfers) {
  AgentProcess agent;
  agent.write(
      "{\"type\":\"watch\",\"keyCode\":61}\n"
      "{\"type\":\"paste\",\"text\":\"hello\"}\n"
      "{\"type\":\"read-selection\"}\n");
  agent.closeStdin();
  expectStartup(agent);
  EXPECT_EQ(parse(agent.readLine()),
            json::parse(R"({"type":"tap","active":false,"reason":"permission"})"));
  EXPECT_EQ(parse(agent.readLine()),
            json::parse(R"({"type":"paste","ok":false,"reason":"accessibility"})"));
  EXPECT_EQ(parse(agent.readLine()),
            json::parse(R"({"type":"selection","ok":false,"reason":"accessibility"})"));
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.waitExit(), 0);
}

TEST(Process, UnusableLinesLeaveNoTrace) {
  AgentProcess agent;
  agent.write(
      "\n"
      "   \t\n"
      "[{\"type\":\"permissions\"}]\n"
      "{\"type\":\"permissions\"} x\n"
      "{\"type\":\"permissions\"}{}\n"
      "{\"type\":\"Permissions\"}\n"
      "{\"type\":\"permissions \"}\n"
      "\"permissions\"\n"
      "{\"type\":\"\xff\xfe\"}\n"
      "\xc3\x28\x80\n"
      "{\"type\":\"watch\",\"keyCode\":\"61\"}\n"
      "{\"type\":\"paste\",\"text\":\"\"}\n"
      "{\"type\":\"permissions\"}\r\n");
  agent.closeStdin();
  expectStartup(agent);
  EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.waitExit(), 0);
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
  EXPECT_EQ(agent.waitExit(), 0);
}

TEST(Process, AnOverlongLineIsDroppedAndTheNextOneServed) {
  AgentProcess agent;
  std::thread writer([&] {
    std::string chunk(1 << 20, 'x');
    agent.write("{\"type\":\"paste\",\"text\":\"");
    for (int i = 0; i < 70; ++i) agent.write(chunk);
    agent.write("\"}\n{\"type\":\"permissions\"}\n");
    agent.closeStdin();
  });
  expectStartup(agent);
  EXPECT_EQ(parse(agent.readLine()), json::parse(kHeadlessPermissions));
  EXPECT_EQ(agent.readLine(), std::nullopt);
  writer.join();
  EXPECT_EQ(agent.waitExit(), 0);
}

TEST(Process, AHostThatClosesOurOutputDoesNotKillUs) {
  AgentProcess agent;
  expectStartup(agent);
  agent.closeStdout();
  for (int i = 0; i < 100; ++i) agent.write("{\"type\":\"permissions\"}\n");
  agent.closeStdin();
  EXPECT_EQ(agent.waitExit(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
}

}  // namespace
}  // namespace deskagent::testing
