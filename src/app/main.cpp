// deskagent: a background agent driven by JSON lines on stdin, answering with JSON lines on stdout.

#include <unistd.h>

#include <csignal>

#include "agent/agent.hpp"
#include "agent/protocol.hpp"
#include "app/backend.hpp"
#include "app/output.hpp"
#include "app/stdin_reader.hpp"

int main() {
  using namespace deskagent;
  // A host that closes our stdout must not kill us with restores still pending: writes then
  // fail quietly and the agent runs on until its input ends.
  std::signal(SIGPIPE, SIG_IGN);
  configureAllocator();

  auto loop = makeMainLoop();
  auto platform = connectPlatform(*loop);
  Agent agent(*loop, *platform, [](std::string_view line) { writeAll(STDOUT_FILENO, line); });

  StdinReader reader(
      STDIN_FILENO,
      [&](InputLine line) {
        loop->post(
            [&agent, line = std::move(line)]() mutable { handleCommand(agent, std::move(line)); });
      },
      // Commands already read and transfers in flight finish first; then run() returns.
      [&] { loop->quitWhenIdle(); });
  reader.start();  // lines read now wait in the loop until start-up is done

  agent.start();
  loop->run();
  platform->shutdown();
  reader.join();
  return 0;
}
