// libFuzzer target: bytes from the host, cut into lines and handed to the dispatcher as the app's
// reader does, on the simulated desktop and the virtual clock. The first byte sets up the desktop
// and the time between lines. No line may crash, leak or hang the agent, and everything it writes
// must be a well-formed event.

#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "agent/agent.hpp"
#include "agent/protocol.hpp"
#include "fuzz/output_check.hpp"
#include "loop/poll_loop.hpp"
#include "platform/sim/sim_platform.hpp"

using namespace deskagent;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint8_t setup = data[0];
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  VirtualClock clock;
  PollLoop loop{clock};
  platform::SimPlatform sim{loop};
  sim.trusted = setup & 1;
  sim.listenEventAccess = setup & 2 ? platform::kAccessGranted : platform::kAccessDenied;
  sim.desktop().notifiesPasteRead = setup & 4;
  sim.desktop().onCopy = setup & 8 ? platform::SimDesktop::OnCopy::copiesSelection
                                   : platform::SimDesktop::OnCopy::ignores;
  sim.desktop().selection = "the selection";
  sim.desktop().userCopies(platform::simPlainText("the user's text"));
  const auto gap = std::chrono::milliseconds(setup >> 4) * 50;  // 0 to 750 ms between lines

  std::vector<std::string> written;
  Agent agent(loop, sim, [&](std::string_view line) { written.emplace_back(line); });
  agent.start();
  while (!input.empty()) {
    std::size_t end = input.find('\n');
    InputLine line;
    line.appendSanitized(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    loop.post(
        [&agent, line = std::move(line)]() mutable { handleCommand(agent, std::move(line)); });
    advanceVirtualTime(loop, clock, gap);
  }
  drainVirtualTime(loop, clock);

  for (const auto& line : written) fuzzing::checkEventLine(line);
  return 0;
}
