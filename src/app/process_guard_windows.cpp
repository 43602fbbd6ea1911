#include <windows.h>

#include <exception>

#include "app/process_guard.hpp"

namespace deskagent {

namespace {

// Ends the process at once: Windows Error Reporting never sees the fault, so it neither asks
// the user nor writes a dump (which would hold the user's clipboard and the dictated text).
LONG WINAPI endWithoutReport(EXCEPTION_POINTERS*) {
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void guardProcessMemory() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(endWithoutReport);
  // The runtime's abort() would print its message to standard error first.
  std::set_terminate([] { TerminateProcess(GetCurrentProcess(), 3); });
}

}  // namespace deskagent
