#pragma once

#include <chrono>
#include <string>

namespace deskagent::platform {

// Milliseconds left until `deadline`, none once it has passed: a poll(2) timeout.
int remainingMs(std::chrono::steady_clock::time_point deadline);

// Writes all of `data` to a reader's pipe, giving up on a reader that closes its end or has not
// taken all of it within `patience` (the caller waits meanwhile). True when all was written.
bool writeWhole(int fd, const std::string& data, std::chrono::milliseconds patience);

}  // namespace deskagent::platform
