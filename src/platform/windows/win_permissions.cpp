#include "platform/windows/win_permissions.hpp"

#include <windows.h>

#include <array>

namespace deskagent::platform::windows {
namespace {

constexpr std::int64_t kNotDetermined = 0;
constexpr std::int64_t kRestricted = 1;
constexpr std::int64_t kDenied = 2;
constexpr std::int64_t kGranted = 3;

constexpr wchar_t kConsentKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\CapabilityAccessManager\\ConsentStore\\"
    L"microphone";
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows\\AppPrivacy";

std::optional<std::wstring> readString(HKEY root, const wchar_t* key, const wchar_t* value) {
  std::array<wchar_t, 64> buffer{};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (RegGetValueW(root, key, value, RRF_RT_REG_SZ, nullptr, buffer.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer.data());
}

std::optional<std::uint32_t> readDword(HKEY root, const wchar_t* key, const wchar_t* value) {
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegGetValueW(root, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return data;
}

}  // namespace

std::int64_t microphoneStatus(const MicrophoneConsent& consent) {
  if (consent.policy == 1u || consent.policy == 2u) return kRestricted;
  if (consent.machine == L"Deny" || consent.user == L"Deny") return kDenied;
  if (consent.user == L"Allow" || consent.machine == L"Allow") return kGranted;
  return kNotDetermined;
}

MicrophoneConsent readMicrophoneConsent() {
  return MicrophoneConsent{readDword(HKEY_LOCAL_MACHINE, kPolicyKey, L"LetAppsAccessMicrophone"),
                           readString(HKEY_LOCAL_MACHINE, kConsentKey, L"Value"),
                           readString(HKEY_CURRENT_USER, kConsentKey, L"Value")};
}

bool canSendInput() {
  HDESK desktop = OpenInputDesktop(0, FALSE, DESKTOP_JOURNALPLAYBACK);
  if (desktop == nullptr) return false;
  CloseDesktop(desktop);
  return true;
}

}  // namespace deskagent::platform::windows
