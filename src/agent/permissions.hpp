#pragma once

#include <map>
#include <string>

namespace deskagent {

struct Agent;

namespace platform {
class Platform;
}

// "accessibility" and "inputMonitoring" ("yes"/"no"), "microphone" (a status word).
using PermissionsMap = std::map<std::string, std::string>;

// Probes the three permissions, in that order, once each; never prompts.
PermissionsMap currentPermissions(platform::Platform& platform);

// Probes, stores the result as lastPermissions, then reports it to the host.
void emitPermissions(Agent& agent);

}  // namespace deskagent
