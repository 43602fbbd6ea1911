#include "agent/permissions.hpp"

#include "agent/agent.hpp"
#include "agent/protocol.hpp"

namespace deskagent {
namespace {

const char* microphoneWord(std::int64_t status) {
  switch (status) {
    case 0:
      return "not-determined";
    case 1:
      return "restricted";
    case 2:
      return "denied";
    case 3:
      return "granted";
    default:
      return "unknown";
  }
}

}  // namespace

PermissionsMap currentPermissions(platform::Platform& platform) {
  PermissionsMap map;
  map["accessibility"] = platform.isProcessTrusted(/*prompt=*/false) ? "yes" : "no";
  map["inputMonitoring"] =
      platform.checkListenEventAccess() == platform::kAccessGranted ? "yes" : "no";
  map["microphone"] = microphoneWord(platform.microphoneAuthorizationStatus());
  return map;
}

void emitPermissions(Agent& agent) {
  PermissionsMap map = currentPermissions(agent.platform);
  {
    std::lock_guard lock(agent.permissionLock);
    agent.lastPermissions = map;
  }
  emit(agent, Event{{"type", "permissions"},
                    {"accessibility", map["accessibility"] == "yes"},
                    {"inputMonitoring", map["inputMonitoring"] == "yes"},
                    {"microphone", map["microphone"]}});
}

}  // namespace deskagent
