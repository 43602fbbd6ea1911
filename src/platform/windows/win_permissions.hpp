#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace deskagent::platform::windows {

// What the privacy consent store says about the microphone: the group policy
// (LetAppsAccessMicrophone: 1 force allow, 2 force deny), the machine's and the user's
// CapabilityAccessManager "Value" ("Allow" or "Deny"), each when present.
struct MicrophoneConsent {
  std::optional<std::uint32_t> policy;
  std::optional<std::wstring> machine;
  std::optional<std::wstring> user;
};

// The status in the raw numbering the logic knows (0 not determined, 1 restricted, 2 denied,
// 3 granted): a policy restricts; "Deny" on the machine or for the user denies; "Allow" grants;
// nothing recorded is not determined.
std::int64_t microphoneStatus(const MicrophoneConsent& consent);

// The consent store as the registry holds it now.
MicrophoneConsent readMicrophoneConsent();

// Whether synthetic input reaches the desktop the user works on: false on the secure desktop
// (a locked session, a UAC prompt) or in a session without one.
bool canSendInput();

}  // namespace deskagent::platform::windows
