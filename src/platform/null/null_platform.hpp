#pragma once

#include <memory>

#include "platform/platform.hpp"

namespace deskagent::platform {

// Headless: no window system, so nothing can be watched, typed or pasted. It says so honestly:
// not trusted, no input access, microphone unknown, every tap refused.
std::unique_ptr<Platform> connectNullPlatform();

}  // namespace deskagent::platform
