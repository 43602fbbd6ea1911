#pragma once

#include <string>
#include <vector>

namespace deskagent::platform::wayland {

// What `deskagent --check` tells a person of the compositor that WAYLAND_DISPLAY names.
struct CompositorDescription {
  bool named = false;              // WAYLAND_DISPLAY is set
  bool usable = false;             // it offers what the Wayland backend needs
  std::vector<std::string> facts;  // one line each: the compositor and its protocols, or why not
};

// Connects for a moment, lists the globals the compositor offers, and disconnects. Binds
// nothing, so it reads no clipboard and no key.
CompositorDescription describeCompositor();

}  // namespace deskagent::platform::wayland
