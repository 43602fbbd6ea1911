#include "app/command_line.hpp"

#include <iostream>
#include <string_view>

#include "app/check.hpp"

// The build defines it from the project's version (CMakeLists.txt).
#ifndef DESKAGENT_VERSION
#define DESKAGENT_VERSION "unknown"
#endif

namespace deskagent {
namespace {

constexpr const char* kHelp = R"(Usage: deskagent [--check | --help | --version]

deskagent is a background agent for desktop applications: it watches one modifier key, pastes
text into the frontmost application through the clipboard (and puts the user's clipboard back),
reads the selected text and reports its permissions. A host application starts it as a child
process and speaks JSON lines with it: one command per line on its standard input, one event
per line on its standard output. It runs until its standard input ends.

The protocol is documented in the README (/usr/share/doc/deskagent/README.md where the package
installed it) and in deskagent(1).

  --check    tell what the agent would use here (display, key watch, permissions) and why
  --help     this text
  --version  the version
Any other argument is ignored.
)";

}  // namespace

std::optional<int> answerCommandLine(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  std::string_view argument = argv[1];
  if (argument == "--version") {
    std::cout << "deskagent " << DESKAGENT_VERSION << "\n";
  } else if (argument == "--help") {
    std::cout << kHelp;
  } else if (argument == "--check") {
    std::cout << "deskagent " << DESKAGENT_VERSION << ": what it would use here, and why\n\n";
    printCheck(std::cout);
  } else {
    return std::nullopt;
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace deskagent
