#include <sys/resource.h>

#include <cstdlib>
#include <exception>

#include "app/process_guard.hpp"

#ifdef __linux__
#include <sys/prctl.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace deskagent {

void guardProcessMemory() {
  // A core file would hold the user's clipboard and the dictated text.
  rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
  // Not dumpable: no core even where the limit is ignored (a core_pattern piped to a helper),
  // and no other process of the user's may read our memory through ptrace or /proc.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
#ifdef __GLIBC__
  // One malloc arena: glibc reserves 64 MiB of address space for each further thread's, which
  // under a limited address space (RLIMIT_AS) the clipboard then lacks (a 30 MiB clipboard was
  // refused under 128 MiB). Our threads other than the loop's only read and write lines.
  ::mallopt(M_ARENA_MAX, 1);
#endif
  // The default handler would write the exception's description to standard error.
  std::set_terminate([] { std::abort(); });
}

}  // namespace deskagent
