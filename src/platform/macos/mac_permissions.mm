// Accessibility trust, Input Monitoring (listen-event) access and the microphone status.

#import <AVFoundation/AVFoundation.h>
#import <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>
#include <IOKit/hidsystem/IOHIDLib.h>
#include <dispatch/dispatch.h>

#include <functional>

#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {

bool MacPlatform::isProcessTrusted(bool prompt) {
  @autoreleasepool {
    NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @(prompt)};
    return AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
  }
}

std::int64_t MacPlatform::checkListenEventAccess() {
  // kIOHIDAccessTypeGranted, Denied and Unknown are the seam's constants (mac_constants.cpp).
  return IOHIDCheckAccess(kIOHIDRequestTypeListenEvent);
}

// IOHIDRequestAccess may hold its caller until the user has answered the dialog: it runs on a
// queue of the system's, and the answer comes back on the main queue, which the main run loop
// serves. Its result is not taken: the access watch reads the access itself.
void MacPlatform::requestListenEventAccess(std::function<void()> answered) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
    IOHIDRequestAccess(kIOHIDRequestTypeListenEvent);
    dispatch_async(dispatch_get_main_queue(), ^{
      @autoreleasepool {
        answered();
      }
    });
  });
}

std::int64_t MacPlatform::microphoneAuthorizationStatus() {
  @autoreleasepool {
    return [AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio];
  }
}

}  // namespace deskagent::platform
