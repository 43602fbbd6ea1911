#include "platform/kde/kwin_focus.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>

#include "platform/wayland/wayland_toplevels.hpp"

namespace deskagent::platform::kde {

namespace {

constexpr const char* kCallbackPath = "/org/deskagent/ActiveWindow";
// KWin loads, runs and answers in about 5 ms; a KWin slowed by a busy machine is given a second,
// since without its answer no copy chord may be sent.
constexpr auto kPatience = std::chrono::seconds(1);

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

KWinFocus::KWinFocus(dbus::Connection& bus) : bus_(bus) {
  const std::string script =
      "const w = workspace.activeWindow;\n"
      "callDBus(\"" +
      bus_.uniqueName() + "\", \"" + kCallbackPath +
      "\", \"org.deskagent.ActiveWindow\", \"Tell\", "
      "w ? String(w.resourceClass) + \"\\n\" + String(w.resourceName) : \"\");\n";
  script_ = ::memfd_create("deskagent-active-window.js", MFD_CLOEXEC);
  if (script_ >= 0 &&
      ::write(script_, script.data(), script.size()) != static_cast<ssize_t>(script.size())) {
    ::close(script_);
    script_ = -1;
  }
  callback_ = bus_.serveObject(kCallbackPath, [this](sd_bus_message* call) {
    const char* classes = nullptr;
    if (sd_bus_message_read(call, "s", &classes) >= 0 && classes != nullptr) {
      answer_ = lower(classes);
    }
    sd_bus_reply_method_return(call, nullptr);
  });
}

KWinFocus::~KWinFocus() {
  if (script_ >= 0) ::close(script_);
}

std::optional<std::vector<std::string>> KWinFocus::activeWindowClasses() {
  if (script_ < 0 || !callback_) return std::nullopt;
  // A name of its own each time: KWin frees an unloaded script only later, and refuses to load
  // one under a name still in use.
  const std::string pluginName =
      "deskagent-active-window-" + std::to_string(::getpid()) + "-" + std::to_string(++queries_);
  const std::string path = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(script_);
  auto load = bus_.methodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript");
  if (!load || sd_bus_message_append(load.get(), "ss", path.c_str(), pluginName.c_str()) < 0) {
    return std::nullopt;
  }
  auto loaded = bus_.call(load, kPatience);
  int id = -1;
  if (!loaded || sd_bus_message_read(loaded.get(), "i", &id) < 0 || id < 0) return std::nullopt;
  answer_.reset();
  const std::string scriptPath = "/Scripting/Script" + std::to_string(id);
  auto run = bus_.methodCall("org.kde.KWin", scriptPath.c_str(), "org.kde.kwin.Script", "run");
  if (bus_.call(run, kPatience)) bus_.serveUntil([this] { return answer_.has_value(); }, kPatience);
  auto unload =
      bus_.methodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript");
  if (unload && sd_bus_message_append(unload.get(), "s", pluginName.c_str()) >= 0) {
    bus_.send(unload);
  }
  auto answer = std::exchange(answer_, std::nullopt);
  if (!answer) return std::nullopt;
  std::vector<std::string> classes;
  std::string_view rest = *answer;
  while (!rest.empty()) {
    auto end = rest.find('\n');
    classes.emplace_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return classes;
}

wayland::FocusedKind KWinFocus::kind() {
  auto classes = activeWindowClasses();
  if (!classes) return wayland::FocusedKind::unknown;
  return std::any_of(classes->begin(), classes->end(), wayland::isTerminalAppId)
             ? wayland::FocusedKind::terminal
             : wayland::FocusedKind::application;
}

std::optional<std::string> KWinFocus::selectedTextWithoutCopying() {
  if (kind() == wayland::FocusedKind::application) return std::nullopt;
  return std::string();
}

}  // namespace deskagent::platform::kde
