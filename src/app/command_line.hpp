#pragma once

#include <optional>

namespace deskagent {

// `--version`, `--help` and `--check` as the first argument answer a person on standard output
// and give the exit status; nothing for every other command line, which the agent ignores.
std::optional<int> answerCommandLine(int argc, char** argv);

}  // namespace deskagent
