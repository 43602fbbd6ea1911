#include "platform/wayland/wayland_describe.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace deskagent::platform::wayland {
namespace {

// Where libwayland looks for the socket WAYLAND_DISPLAY names.
std::string socketPath(const std::string& name) {
  if (name.starts_with("/")) return name;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr ? std::string(runtime) + "/" + name
                            : "(XDG_RUNTIME_DIR is not set)/" + name;
}

// The compositor's process, from the socket's peer: Wayland has no name for it.
std::string compositorProcess(wl_display* display) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(wl_display_get_fd(display), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    return "a compositor";
  }
  std::string comm;
  std::getline(std::ifstream("/proc/" + std::to_string(peer.pid) + "/comm"), comm);
  return (comm.empty() ? "a compositor" : comm) + " (pid " + std::to_string(peer.pid) + ")";
}

struct Needed {
  const char* interface;
  bool required;
  const char* forWhat;
};

constexpr Needed kNeeded[] = {
    {"wl_seat", true, "the seat the clipboard and keyboard belong to"},
    {"zwlr_data_control_manager_v1", true, "the clipboard without a window"},
    {"zwp_virtual_keyboard_manager_v1", true, "synthetic keys, for paste and read-selection"},
    {"zwlr_foreign_toplevel_manager_v1", false,
     "which window has the focus, so terminals get their own paste keys"},
};

}  // namespace

CompositorDescription describeCompositor() {
  CompositorDescription out;
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') {
    out.facts.push_back("WAYLAND_DISPLAY is not set: no Wayland compositor is named");
    return out;
  }
  out.named = true;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::string path = socketPath(name);
    struct stat info {};
    out.facts.push_back(
        std::string("WAYLAND_DISPLAY=") + name + " could not be opened: " +
        (::stat(path.c_str(), &info) != 0
             ? "no compositor runs there (no socket " + path + "): not started, or not yet"
             : "nothing answers at " + path + ": the compositor has gone or is starting"));
    return out;
  }
  std::set<std::string> offered;
  static const wl_registry_listener listener = {
      [](void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
        static_cast<std::set<std::string>*>(data)->insert(interface);
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &listener, &offered);
  wl_display_roundtrip(display);
  out.facts.push_back(std::string("WAYLAND_DISPLAY=") + name + ": " + compositorProcess(display) +
                      " at " + socketPath(name));
  out.usable = true;
  for (const Needed& needed : kNeeded) {
    bool has = offered.contains(needed.interface);
    if (needed.required && !has) out.usable = false;
    out.facts.push_back(std::string(needed.interface) + (has ? ": offered" : ": not offered") +
                        " (" + needed.forWhat + (needed.required ? "" : "; optional") + ")");
  }
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return out;
}

}  // namespace deskagent::platform::wayland
