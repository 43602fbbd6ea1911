#pragma once

#include <string_view>

namespace deskagent {

// Writes all of `bytes` to `fd` as one write where the pipe allows, going on after EINTR and
// partial writes. A host that has gone away makes it give up quietly.
void writeAll(int fd, std::string_view bytes);

}  // namespace deskagent
