#include "app/check.hpp"

namespace deskagent {

DesktopDescription describeDesktop() {
  return {
      {"the desktop of this Windows session"},
      "the Windows backend",
      {"a listen-only low-level keyboard hook (WH_KEYBOARD_LL); it hears no window of a higher "
       "integrity level (run as administrator) than the agent's"},
  };
}

}  // namespace deskagent
