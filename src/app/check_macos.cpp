#include "app/check.hpp"

namespace deskagent {

DesktopDescription describeDesktop() {
  return {
      {"the window server of this user's session"},
      "the macOS backend",
      {"a listen-only Quartz event tap on modifier changes: it hears keys once Input Monitoring "
       "or Accessibility is granted to the responsible process (the app that starts the agent, "
       "or the terminal)"},
  };
}

}  // namespace deskagent
