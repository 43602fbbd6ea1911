#include <io.h>
#include <windows.h>

#include "app/read_input.hpp"

namespace deskagent {

std::size_t readInput(int fd, char* buffer, std::size_t size) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return 0;
  DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  DWORD n = 0;
  // A pipe whose writer has closed its end fails with ERROR_BROKEN_PIPE; a file, a console
  // (Ctrl+Z) or a writer's zero-byte write reads zero bytes. Each ends the input, as do errors.
  if (!ReadFile(handle, buffer, chunk, &n, nullptr)) return 0;
  return n;
}

}  // namespace deskagent
