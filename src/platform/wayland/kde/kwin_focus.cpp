#include "platform/wayland/kde/kwin_focus.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <utility>

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

// Writes the script where KWin can read it: the user's runtime directory (KWin reads scripts
// from paths only, and our own /proc/PID/fd is closed to it, the agent being non-dumpable).
std::optional<std::string> writeScript(const std::string& name, const std::string& script) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return std::nullopt;
  std::string path = std::string(runtime) + "/" + name;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return std::nullopt;
  const bool whole =
      ::write(fd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
  ::close(fd);
  if (!whole) {
    ::unlink(path.c_str());
    return std::nullopt;
  }
  return path;
}

}  // namespace

KWinFocus::KWinFocus(dbus::Connection& bus) : bus_(bus) {
  script_ =
      "const w = workspace.activeWindow;\n"
      "callDBus(\"" +
      bus_.uniqueName() + "\", \"" + kCallbackPath +
      "\", \"org.deskagent.ActiveWindow\", \"Tell\", "
      "w ? String(w.resourceClass) + \"\\n\" + String(w.resourceName) : \"\");\n";
  callback_ = bus_.serveObject(kCallbackPath, [this](sd_bus_message* call) {
    const char* classes = nullptr;
    if (sd_bus_message_read(call, "s", &classes) >= 0 && classes != nullptr) {
      answer_ = lower(classes);
    }
    sd_bus_reply_method_return(call, nullptr);
  });
}

KWinFocus::~KWinFocus() = default;

std::optional<std::vector<std::string>> KWinFocus::activeWindowClasses() {
  if (!callback_) return std::nullopt;
  // A name of its own each time: KWin frees an unloaded script only later, and refuses to load
  // one under a name still in use.
  const std::string pluginName =
      "deskagent-active-window-" + std::to_string(::getpid()) + "-" + std::to_string(++queries_);
  auto written = writeScript(pluginName + ".js", script_);
  if (!written) return std::nullopt;
  const std::string& path = *written;
  // KWin has read it once it has run it, or has given up: it goes then, whatever happened.
  struct Remove {
    const std::string& path;
    ~Remove() { ::unlink(path.c_str()); }
  } remove{path};
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

// A window KWin names is a terminal where its list or its desktop entry says so, and an
// application otherwise.
std::optional<TerminalKind> KWinFocus::kind() {
  auto classes = activeWindowClasses();
  if (!classes) return std::nullopt;
  for (const auto& name : *classes) {
    auto kind = wayland::kindOfApplication(name, entries_);
    if (kind && kind != TerminalKind::none) return kind;
  }
  return TerminalKind::none;
}

}  // namespace deskagent::platform::kde
