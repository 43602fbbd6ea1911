#pragma once

namespace deskagent {

// Keeps what the agent holds (the user's clipboard, dictated text) off the disk and out of
// standard error should the process ever crash: no core file or crash dump of ours, no report
// dialog, and no runtime message on the way out. Called first thing in main.
void guardProcessMemory();

}  // namespace deskagent
