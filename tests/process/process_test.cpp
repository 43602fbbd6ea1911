// The built agent as a host sees it, over pipes, on the headless backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "process/child_process.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;

const std::string kHeadlessPermissions =
    R"({"type":"permissions","accessibility":false,"inputMonitoring":false,"microphone":"unknown"})";

// Reads the ready line and the first permissions report.
void expectStartup(ChildProcess& agent) {
  EXPECT_EQ(agent.readLine(), std::optional<std::string>(R"({"type":"ready"})"));
  EXPECT_EQ(agent.nextJson(), json::parse(kHeadlessPermissions));
}

// The end of output, exit status 0 and nothing on stderr.
void expectCleanExit(ChildProcess& agent) {
  EXPECT_EQ(agent.readLine(), std::nullopt);
  EXPECT_EQ(agent.wait(), 0);
  EXPECT_EQ(agent.readAllStderr(), "");
}

// Input written and closed before the agent has started: the start-up lines come first, then
// one answer per usable command, in order (headless: no tap and no transfers), and exit status 0
// at the end of input. Arguments a user might try change nothing: they are ignored, and no log
// appears. A host that gives no input at all (closed, not empty) sees the same end.
TEST(Process, InputThatEndsBeforeStartUpIsServedInOrder) {
  std::string log = "/tmp/deskagent-log-" + std::to_string(::getpid());
  AgentProcess agent({"--verbose", "--log", log, "--help"});
  ASSERT_TRUE(agent.started());
  agent.write(
      "\xc3\x28\x80\n"  // ill-formed: it leaves no trace
      "{\"type\":\"watch\",\"keyCode\":61}\n{\"type\":\"paste\",\"text\":\"hello\"}\n"
      "{\"type\":\"read-selection\"}\n"
      "{\"type\":\"permissions\"}\r\n"  // a carriage return before the line feed is white space
      "{\"type\":\"request\",\"scope\":\"accessibility\"}\n");
  agent.closeStdin();
  expectStartup(agent);
  for (const char* answer : {R"({"type":"tap","active":false,"reason":"permission"})",
                             R"({"type":"paste","ok":false,"reason":"accessibility"})",
                             R"({"type":"selection","ok":false,"reason":"accessibility"})",
                             kHeadlessPermissions.c_str(), kHeadlessPermissions.c_str()}) {
    EXPECT_EQ(agent.nextJson(), json::parse(answer));
  }
  expectCleanExit(agent);
  EXPECT_NE(::access(log.c_str(), F_OK), 0);

  ChildProcess closed({"/bin/sh", "-c", "exec \"$0\" <&-", agentBinary()}, /*keepStderr=*/true);
  expectStartup(closed);
  expectCleanExit(closed);
}

// Peak resident memory in MiB, from the kernel's own record; 0 where it cannot be read.
std::size_t peakResidentMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string field; status >> field;) {
    std::size_t kib = 0;
    if (field == "VmHWM:" && status >> kib) return kib / 1024;
  }
  return 0;
}

// About 60 MiB of commands and 18 MiB of answers, far past the backlog's bound, answers read
// slowly: every answer arrives, in order, and the agent's memory stays within what the README
// promises, because it stops reading while the backlog is full.
TEST(Process, ABurstFarLargerThanTheBacklogIsAnsweredInOrderInBoundedMemory) {
  constexpr int kLines = 200000;
  AgentProcess agent;
  const std::string pad = ",\"pad\":\"" + std::string(280, 'x') + "\"}\n";
  const std::string commands[] = {"{\"type\":\"permissions\"" + pad,
                                  "{\"type\":\"paste\",\"text\":\"a\"" + pad,
                                  "{\"type\":\"read-selection\"" + pad};
  const std::string answers[] = {R"({"type":"permissions")", R"({"type":"paste")",
                                 R"({"type":"selection")"};
  std::thread writer([&] {
    std::string input;
    for (int i = 0; i < kLines; ++i) input += commands[i % 3];
    agent.write(input);
    agent.closeStdin();
  });
  expectStartup(agent);
  int seen = 0;
  for (std::optional<std::string> line; seen < kLines; ++seen) {
    if (!(line = agent.pollLine())) {
      ::usleep(2000);  // a host that reads slowly
      if (!(line = agent.readLine())) break;
    }
    ASSERT_TRUE(line->starts_with(answers[seen % 3])) << "line " << seen << ": " << *line;
  }
  EXPECT_EQ(seen, kLines);
  if (!kSanitized) {  // a sanitizer's shadow memory and quarantines say nothing here
    EXPECT_LT(peakResidentMiB(agent.pid()), 48u);
  }
  writer.join();
  expectCleanExit(agent);
}

// A host that reads none of our output, or closes it, writes past the backlog's bound and then
// closes our input: the agent still comes to the end of its input and exits, the unread events
// dropped. A closed output is no reason to die (SIGPIPE).
TEST(Process, AHostThatStopsReadingOrClosesOurOutputSeesUsExitAtTheEndOfInput) {
  for (bool closeOutput : {false, true}) {
    SCOPED_TRACE(closeOutput);
    AgentProcess agent;
    if (closeOutput) agent.closeStdout();
    std::thread writer([&] {
      std::string input;
      // The bound, what our output pipe takes, and less than the input pipe holds.
      for (int i = 0; i < 101500; ++i) input += "{\"type\":\"permissions\"}\n";
      agent.write(input);
      agent.closeStdin();
    });
    // A bound for a hang, not a timing: a sanitized agent on a loaded machine takes seconds.
    auto status = agent.wait(60s);
    EXPECT_EQ(status, 0);
    if (!status) agent.kill();  // ends the writer's wait too
    writer.join();
    EXPECT_EQ(agent.readAllStderr(), "");
  }
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
    EXPECT_EQ(agent.nextJson(), json::parse(kHeadlessPermissions));
    if (!kSanitized) {  // sanitizers keep freed memory in quarantine
      EXPECT_LT(peakResidentMiB(agent.pid()), 2 * std::min<std::size_t>(row.mib, 64) + 16);
    }
    writer.join();
    agent.closeStdin();
    expectCleanExit(agent);
  }
}

// What a person asks first: the version, the usage, and why the agent is headless here (no
// display named, or one named that does not answer). Each answers on stdout and exits 0
// without waiting for input.
TEST(Process, VersionHelpAndCheckAnswerAPersonAndExit) {
  auto answer = [](const std::string& argument) {
    AgentProcess agent({argument});
    std::string out = agent.readAll();
    EXPECT_EQ(agent.wait(), 0) << argument;
    EXPECT_EQ(agent.readAllStderr(), "") << argument;
    return out;
  };
  EXPECT_TRUE(std::regex_match(answer("--version"), std::regex("deskagent \\d+\\.\\d+\\.\\d+\n")));
  std::string help = answer("--help");
  for (const char* part : {"JSON lines", "standard input", "README", "--check"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part;
  }
  std::string unset = answer("--check");
  for (const char* part : {"DISPLAY is not set", "no display is named", "accessibility: false"}) {
    EXPECT_NE(unset.find(part), std::string::npos) << part << " in " << unset;
  }
  ::setenv("DISPLAY", ":31999", 1);
  std::string wrong = answer("--check");
  ::unsetenv("DISPLAY");
  for (const char* part : {"DISPLAY=:31999 could not be opened", "no socket /tmp/.X11-unix/X31999",
                           "looks again every 1.5 s"}) {
    EXPECT_NE(wrong.find(part), std::string::npos) << part << " in " << wrong;
  }
}

}  // namespace
}  // namespace deskagent::testing
