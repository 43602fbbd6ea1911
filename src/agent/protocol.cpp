#include "agent/protocol.hpp"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "agent/agent.hpp"

namespace deskagent {

using nlohmann::json;

void emit(Agent& agent, const Event& event) {
  std::string line = serializeEvent(event);
  line.push_back('\n');
  std::lock_guard lock(agent.outputLock);
  agent.output(line);
}

namespace {

// A JSON number whose value is a whole number in the signed 64-bit range; 61.0 and 6.1e1 count.
std::optional<std::int64_t> wholeNumber(const json& value) {
  switch (value.type()) {
    case json::value_t::number_integer:
      return value.get<std::int64_t>();
    case json::value_t::number_unsigned: {
      auto u = value.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
      }
      return static_cast<std::int64_t>(u);
    }
    case json::value_t::number_float: {
      double d = value.get<double>();
      // (-2^63, 2^63): both bounds are exact doubles. A literal below the range reaches us as a
      // double rounded to -2^63, so that value is refused too; hosts send -2^63 as an integer.
      if (!std::isfinite(d) || d != std::trunc(d) || d <= -9223372036854775808.0 ||
          d >= 9223372036854775808.0) {
        return std::nullopt;
      }
      return static_cast<std::int64_t>(d);
    }
    default:
      return std::nullopt;
  }
}

const json* member(const json& object, const char* name) {
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

void watch(Agent& agent, const json& command) {
  const json* keyCode = member(command, "keyCode");
  auto code = keyCode ? wholeNumber(*keyCode) : std::nullopt;
  if (!code) return;
  ModifierWatcher& watcher = *agent.watcher;
  // Watching the key already watched keeps a reported "down": its release must still say "up".
  bool sameKeyHeld = watcher.isDown && watcher.watchedKeyCode == *code;
  watcher.watchedKeyCode = *code;
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

void paste(Agent& agent, const json& command) {
  const json* text = member(command, "text");
  if (text == nullptr || !text->is_string()) return;
  const auto& value = text->get_ref<const std::string&>();
  if (value.empty()) return;
  pasteIntoFrontmostApp(agent, value);
}

void request(Agent& agent, const json& command) {
  const json* scope = member(command, "scope");
  if (scope != nullptr && scope->is_string()) {
    const auto& name = scope->get_ref<const std::string&>();
    if (name == "accessibility") {
      agent.platform.isProcessTrusted(/*prompt=*/true);
    } else if (name == "input-monitoring") {
      agent.platform.requestListenEventAccess();
    }
  }
  emitPermissions(agent);
}

}  // namespace

void handleCommand(Agent& agent, std::string_view line) {
  // The parser stops at a NUL byte and would not see what follows; JSON never holds a raw NUL.
  if (line.find('\0') != std::string_view::npos) return;
  json command = json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!command.is_object()) return;  // parse errors come back as "discarded", not an object
  const json* typeMember = member(command, "type");
  if (typeMember == nullptr || !typeMember->is_string()) return;
  const auto& type = typeMember->get_ref<const std::string&>();
  if (type == "watch") {
    watch(agent, command);
  } else if (type == "unwatch") {
    unwatch(agent);
  } else if (type == "paste") {
    paste(agent, command);
  } else if (type == "read-selection") {
    readSelection(agent);
  } else if (type == "permissions") {
    emitPermissions(agent);
  } else if (type == "request") {
    request(agent, command);
  }
}

}  // namespace deskagent
