#pragma once

#include "loop/main_loop.hpp"
#include "platform/backend_description.hpp"

namespace deskagent::platform::gnome {

// Whether mutter's remote-desktop API would let the agent type and use the clipboard in this
// session, and what tells it the focused application. Asks mutter for a session with the
// clipboard and leaves it unstarted (no indicator shows), so a refusal shows here, with mutter's
// reason.
BackendDescription describeGnomeBackend(MainLoop& loop);

}  // namespace deskagent::platform::gnome
