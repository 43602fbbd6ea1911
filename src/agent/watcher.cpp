#include "agent/watcher.hpp"

#include "agent/agent.hpp"

namespace deskagent {

ModifierWatcher::ModifierWatcher(Agent& agent) : agent_(agent) {}

void ModifierWatcher::install() {}

void ModifierWatcher::handle(const platform::KeyboardEvent&) {}

void ModifierWatcher::scheduleRetry() {}

void ModifierWatcher::startAccessWatch() {}

}  // namespace deskagent
