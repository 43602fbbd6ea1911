// The types Wayland owners offer beside their content (XWayland's bridge and toolkits add X11's
// own targets), and how a snapshot of the clipboard treats each.

#include "platform/wayland/wayland_clipboard.hpp"

namespace deskagent::platform::wayland {

const std::vector<PasteboardTypeRule>& waylandTypeRules() {
  static const std::vector<PasteboardTypeRule> rules = {
      {"SAVE_TARGETS", TypeRule::meta,
       "GTK's request to a clipboard manager; GTK never answers a read of it"},
      {"TARGETS", TypeRule::meta, "X11's list of targets, passed on by XWayland"},
      {"MULTIPLE", TypeRule::meta, "X11's request for several targets"},
      {"TIMESTAMP", TypeRule::meta, "when an X11 owner took the selection"},
      {"DELETE", TypeRule::meta, "asks an X11 owner to delete the selected data"},
      {"image/*", TypeRule::imageEncoding, "one image, encoded on request in each format"},
  };
  return rules;
}

}  // namespace deskagent::platform::wayland
