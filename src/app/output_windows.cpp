#include <io.h>
#include <windows.h>

#include "app/output.hpp"

namespace deskagent {

// Straight to the handle, never through the C runtime's text mode: no "\r\n" for "\n", and a
// 0x1A byte is just a byte.
void writeAll(int fd, std::string_view bytes) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return;
  while (!bytes.empty()) {
    DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
    DWORD n = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &n, nullptr) || n == 0) {
      return;  // the host closed its end
    }
    bytes.remove_prefix(n);
  }
}

}  // namespace deskagent
