#include "platform/sim/sim_platform.hpp"

#include <utility>

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

void SimPlatform::requestListenEventAccess(std::function<void()> answered) {
  ++inputMonitoringRequests;
  openListenRequests_.push_back(std::move(answered));
}

int SimPlatform::answerListenRequests(bool grant) {
  listenEventAccess = grant ? kAccessGranted : kAccessDenied;
  auto open = std::exchange(openListenRequests_, {});
  for (auto& answered : open) loop_.post(std::move(answered));
  return static_cast<int>(open.size());
}

std::int64_t SimPlatform::microphoneAuthorizationStatus() {
  return microphoneStatus;
}

}  // namespace deskagent::platform
