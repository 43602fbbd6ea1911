#include "platform/sim/sim_platform.hpp"

namespace deskagent::platform {

SimPlatform::SimPlatform(MainLoop& loop) : loop_(loop), keyboard_(loop), desktop_(loop) {}

bool SimPlatform::isProcessTrusted(bool prompt) {
  if (prompt) {
    ++accessibilityPrompts;
  } else {
    ++trustChecks;
  }
  return trusted;
}

std::int64_t SimPlatform::checkListenEventAccess() {
  return listenEventAccess;
}

void SimPlatform::requestListenEventAccess() {
  ++inputMonitoringRequests;
}

std::int64_t SimPlatform::microphoneAuthorizationStatus() {
  return microphoneStatus;
}

}  // namespace deskagent::platform
