#include "agent/protocol.hpp"

#include <optional>
#include <utility>

#include "agent/agent.hpp"
#include "agent/command.hpp"

namespace deskagent {

void emit(Agent& agent, const Event& event) {
  std::string line = serializeEvent(event);
  line.push_back('\n');
  std::lock_guard lock(agent.outputLock);
  agent.output(std::move(line));
}

namespace {

void watch(Agent& agent, const Command& command) {
  if (!command.keyCode) return;
  std::int64_t code = *command.keyCode;
  ModifierWatcher& watcher = *agent.watcher;
  // Watching the key already watched keeps a reported "down": its release must still say "up".
  bool sameKeyHeld = watcher.isDown && watcher.watchedKeyCode == code;
  watcher.watchedKeyCode = code;
  watcher.isDown = sameKeyHeld;
  if (!watcher.tap) watcher.install();
  watcher.startAccessWatch();
}

void unwatch(Agent& agent) {
  ModifierWatcher& watcher = *agent.watcher;
  watcher.watchedKeyCode.reset();
  watcher.isDown = false;
  watcher.startAccessWatch();
}

void paste(Agent& agent, Command& command) {
  if (!command.text || command.text->empty()) return;
  pasteIntoFrontmostApp(agent, std::move(*command.text));
}

void request(Agent& agent, const Command& command) {
  if (command.scope == "accessibility") {
    agent.platform.isProcessTrusted(/*prompt=*/true);
  } else if (command.scope == "input-monitoring") {
    agent.watcher->requestListenAccess();
  }
  emitPermissions(agent);
}

}  // namespace

void handleCommand(Agent& agent, InputLine line) {
  // The parser takes a NUL byte for the end of its input and would not see what follows; JSON
  // never holds a raw NUL.
  if (line.contains('\0')) return;
  // The line is gone by the time the command runs: a long text is then held once, not twice.
  std::optional<Command> command = parseCommand(std::move(line));
  if (!command) return;
  const std::string& type = command->type;
  if (type == "watch") {
    watch(agent, *command);
  } else if (type == "unwatch") {
    unwatch(agent);
  } else if (type == "paste") {
    paste(agent, *command);
  } else if (type == "read-selection") {
    readSelection(agent);
  } else if (type == "permissions") {
    emitPermissions(agent);
  } else if (type == "request") {
    request(agent, *command);
  }
}

void handleCommand(Agent& agent, std::string_view line) {
  handleCommand(agent, InputLine(line));
}

}  // namespace deskagent
