#include "platform/wayland/focused_application.hpp"

namespace deskagent::platform::wayland {

std::optional<TerminalKind> kindOfApplication(std::string_view appId, DesktopEntries& entries) {
  if (appId.empty()) return std::nullopt;
  TerminalKind kind = terminalKindOfClass(appId, appId);
  if (kind != TerminalKind::none) return kind;
  switch (entries.find(appId)) {
    case DesktopApp::terminal:
      return TerminalKind::clipboardKeys;
    case DesktopApp::application:
      return TerminalKind::none;
    case DesktopApp::unknown:
      break;
  }
  return std::nullopt;
}

std::optional<TerminalKind> ToplevelFocus::kind() {
  connection_.dispatch();
  if (auto appId = toplevels_.focusedAppId()) {
    if (auto kind = kindOfApplication(*appId, entries_)) return kind;
  }
  return xwayland_.focusedKind();
}

}  // namespace deskagent::platform::wayland
