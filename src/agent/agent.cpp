#include "agent/agent.hpp"

#include "agent/protocol.hpp"

namespace deskagent {

Agent::Agent(MainLoop& loop, platform::Platform& platform, OutputSink output)
    : loop(loop),
      platform(platform),
      output(std::move(output)),
      watcher(std::make_shared<ModifierWatcher>(*this)),
      transfers(),
      recopyGuard(std::make_shared<RecopyGuard>(*this)) {}

void Agent::start() {
  emit(*this, Event{{"type", "ready"}});
  emitPermissions(*this);
  watcher->startAccessWatch();
}

}  // namespace deskagent
