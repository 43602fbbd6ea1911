#include "app/check.hpp"

#include "agent/permissions.hpp"
#include "app/backend.hpp"

namespace deskagent {
namespace {

void section(std::ostream& out, const char* title, const std::vector<std::string>& lines) {
  out << title << "\n";
  for (const std::string& line : lines) out << "  " << line << "\n";
}

}  // namespace

void printCheck(std::ostream& out) {
  DesktopDescription desktop = describeDesktop();
  section(out, "Display", desktop.display);
  out << "  => " << desktop.choice << "\n\n";
  section(out, "Key watch", desktop.keyWatch);
  out << "\n";

  // Asked of the backend the agent would run on, as the agent asks it.
  auto loop = makeMainLoop();
  auto platform = connectPlatform(*loop);
  PermissionsMap permissions = currentPermissions(*platform);
  bool trustLetsTapsHear = platform->trustLetsTapsHear();
  platform->shutdown();
  auto yes = [&](const char* key) { return permissions[key] == "yes"; };
  section(out, "Permissions it would report",
          {std::string("accessibility: ") +
               (yes("accessibility") ? "true (it may send the paste and copy keys)"
                                     : "false (paste and read-selection are refused with "
                                       "\"accessibility\")"),
           std::string("inputMonitoring: ") +
               (yes("inputMonitoring") ? "true (a watched key is heard)"
                : trustLetsTapsHear && yes("accessibility")
                    ? "false (a watched key is heard all the same: Accessibility lets the tap hear)"
                    : "false (a watched key's tap is refused and retried every 2 s)"),
           "microphone: " + permissions["microphone"] +
               " (reported for the host; the agent never records)"});
}

}  // namespace deskagent
