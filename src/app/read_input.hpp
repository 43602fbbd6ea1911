#pragma once

#include <cstddef>

namespace deskagent {

// Reads what `fd` has, blocking until at least one byte or the end of input. Returns the number
// of bytes read, zero at the end (a read error counts as one). The host may hand us a
// non-blocking descriptor: this still waits as a blocking read would.
std::size_t readInput(int fd, char* buffer, std::size_t size);

}  // namespace deskagent
