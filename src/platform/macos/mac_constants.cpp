// The macOS values that the platform-neutral code writes as numbers (it is built where no Apple
// header exists), checked against the SDK's own definitions wherever the macOS backend compiles.
// Nothing here runs.

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <IOKit/hidsystem/IOHIDLib.h>
#include <IOKit/hidsystem/IOLLEvent.h>

#include "platform/modifier_keys.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform {
namespace {

// IOHIDCheckAccess's answers.
static_assert(kAccessGranted == kIOHIDAccessTypeGranted);
static_assert(kAccessDenied == kIOHIDAccessTypeDenied);
static_assert(kAccessUnknown == kIOHIDAccessTypeUnknown);

// CGEventFlags.
static_assert(kFlagAlphaShift == kCGEventFlagMaskAlphaShift);
static_assert(kFlagShift == kCGEventFlagMaskShift);
static_assert(kFlagControl == kCGEventFlagMaskControl);
static_assert(kFlagAlternate == kCGEventFlagMaskAlternate);
static_assert(kFlagCommand == kCGEventFlagMaskCommand);
static_assert(kFlagSecondaryFn == kCGEventFlagMaskSecondaryFn);

// Tap locations, as the seam names them.
static_assert(static_cast<int>(TapLocation::hid) == kCGHIDEventTap);
static_assert(static_cast<int>(TapLocation::session) == kCGSessionEventTap);

// Virtual key codes (HIToolbox's Events.h).
static_assert(kMacKeyC == kVK_ANSI_C);
static_assert(kMacKeyV == kVK_ANSI_V);
static_assert(kMacRightCommand == kVK_RightCommand);
static_assert(kMacLeftCommand == kVK_Command);
static_assert(kMacLeftShift == kVK_Shift);
static_assert(kMacCapsLock == kVK_CapsLock);
static_assert(kMacLeftOption == kVK_Option);
static_assert(kMacLeftControl == kVK_Control);
static_assert(kMacRightShift == kVK_RightShift);
static_assert(kMacRightOption == kVK_RightOption);
static_assert(kMacRightControl == kVK_RightControl);
static_assert(kMacFn == kVK_Function);

// Each watchable key's row: its device-dependent bit (IOLLEvent.h) and its kind's flag.
constexpr bool rowIs(std::int64_t macKeyCode, std::uint64_t deviceBit, std::uint64_t flag) {
  for (const ModifierKey& key : kModifierKeys) {
    if (key.macKeyCode == macKeyCode)
      return key.deviceBit == deviceBit && key.independentFlag == flag;
  }
  return false;
}
static_assert(rowIs(kVK_Control, NX_DEVICELCTLKEYMASK, kCGEventFlagMaskControl));
static_assert(rowIs(kVK_RightControl, NX_DEVICERCTLKEYMASK, kCGEventFlagMaskControl));
static_assert(rowIs(kVK_Shift, NX_DEVICELSHIFTKEYMASK, kCGEventFlagMaskShift));
static_assert(rowIs(kVK_RightShift, NX_DEVICERSHIFTKEYMASK, kCGEventFlagMaskShift));
static_assert(rowIs(kVK_Command, NX_DEVICELCMDKEYMASK, kCGEventFlagMaskCommand));
static_assert(rowIs(kVK_RightCommand, NX_DEVICERCMDKEYMASK, kCGEventFlagMaskCommand));
static_assert(rowIs(kVK_Option, NX_DEVICELALTKEYMASK, kCGEventFlagMaskAlternate));
static_assert(rowIs(kVK_RightOption, NX_DEVICERALTKEYMASK, kCGEventFlagMaskAlternate));
static_assert(rowIs(kVK_Function, 0, kCGEventFlagMaskSecondaryFn));
static_assert(rowIs(kVK_CapsLock, 0, 0));
static_assert(kModifierKeys.size() == 10);  // each row checked above

}  // namespace
}  // namespace deskagent::platform
