#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "agent/delays.hpp"
#include "agent/pasteboard.hpp"
#include "agent/permissions.hpp"
#include "agent/recopy_guard.hpp"
#include "agent/watcher.hpp"
#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent {

// Where event lines go: called with one whole line, line feed included, under outputLock.
using OutputSink = std::function<void(std::string line)>;

// The agent's shared state, created once and kept for the life of the process. Everything in it
// is used on the main loop's thread.
struct Agent {
  Agent(MainLoop& loop, platform::Platform& platform, OutputSink output);
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // Writes the ready line and the first permissions report, then starts the access watch.
  void start();

  MainLoop& loop;
  platform::Platform& platform;
  OutputSink output;

  const std::uint16_t virtualKeyV = platform::kMacKeyV;  // the ANSI V key
  const std::uint16_t virtualKeyC = platform::kMacKeyC;  // the ANSI C key
  const Duration selectionCopyDelay = delays::kSelectionCopy;
  const Duration pasteboardRestoreDelay = delays::kPasteboardRestore;
  std::mutex outputLock;
  PermissionsMap lastPermissions;
  std::mutex permissionLock;
  std::shared_ptr<ModifierWatcher> watcher;
  TransferQueue transfers;
  std::shared_ptr<RecopyGuard> recopyGuard;
};

}  // namespace deskagent
