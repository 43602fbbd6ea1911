// deskagent: a background agent driven by JSON lines on stdin, answering with JSON lines on stdout.

#include <chrono>

#include "agent/agent.hpp"
#include "agent/protocol.hpp"
#include "app/backend.hpp"
#include "app/backlog.hpp"
#include "app/command_line.hpp"
#include "app/end_signals.hpp"
#include "app/output_queue.hpp"
#include "app/process_guard.hpp"
#include "app/std_streams.hpp"
#include "app/stdin_reader.hpp"

namespace {

// How long the host gets to take the last events once the agent's work is done. A host that
// does not read them must not keep the agent (and, on X11, the user's clipboard) waiting.
constexpr auto kLastEventsWait = std::chrono::milliseconds(500);

}  // namespace

int main(int argc, char** argv) {
  using namespace deskagent;
  holdStandardStreams();
  guardProcessMemory();
  if (auto status = answerCommandLine(argc, argv)) return *status;
  catchEndSignals();
  configureAllocator();

  auto loop = makeMainLoop();
  auto platform = connectPlatform(*loop);
  Backlog backlog;
  OutputQueue output(backlog, writeToStandardOutput, writeToStandardOutputAtOnce);
  Agent agent(*loop, *platform, [&](std::string line) { output.push(std::move(line)); });

  auto input = openStandardInput();
  StdinReader reader(
      *input, backlog,
      [&](InputLine line) {
        std::size_t size = line.size();
        loop->post([&, size, line = std::move(line)]() mutable {
          handleCommand(agent, std::move(line));
          backlog.release(size);
        });
      },
      // Commands already read and transfers in flight finish first, saving the clipboard in a
      // hurry; then run() returns.
      [&] {
        loop->post([&] { agent.transfers.hurry(); });
        loop->quitWhenIdle();
      });
  // A request to end is an end of input: reading stops here and the rest goes as above.
  LoopHandle endSignals = watchEndSignals(*loop, [&] { reader.stop(); });
  reader.start();  // lines read now wait in the loop until start-up is done

  agent.start();
  loop->run();
  platform->shutdown();
  reader.stop();
  reader.join();
  output.finish(std::chrono::steady_clock::now() + kLastEventsWait);
  return 0;
}
