// deskagent: a background agent driven by JSON lines on stdin, answering with JSON lines on stdout.

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
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif

  auto loop = makeMainLoop();
  auto platform = connectPlatform(*loop);
  Agent agent(*loop, *platform, [](std::string_view line) { writeAll(kStdoutFd, line); });

  StdinReader reader(
      kStdinFd,
      [&](std::string line) {
        loop->post([&agent, line = std::move(line)] { handleCommand(agent, line); });
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
