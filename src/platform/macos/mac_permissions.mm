// Accessibility trust, Input Monitoring (listen-event) access and the microphone status.

#import <AVFoundation/AVFoundation.h>
#import <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>
#include <IOKit/hidsystem/IOHIDLib.h>

#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {

bool MacPlatform::isProcessTrusted(bool prompt) {
  @autoreleasepool {
    NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @(prompt)};
    return AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
  }
}

std::int64_t MacPlatform::checkListenEventAccess() {
  // kIOHIDAccessTypeGranted, Denied and Unknown are 0, 1 and 2, as the seam's constants.
  return IOHIDCheckAccess(kIOHIDRequestTypeListenEvent);
}

void MacPlatform::requestListenEventAccess() {
  IOHIDRequestAccess(kIOHIDRequestTypeListenEvent);
}

std::int64_t MacPlatform::microphoneAuthorizationStatus() {
  @autoreleasepool {
    return [AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio];
  }
}

}  // namespace deskagent::platform
