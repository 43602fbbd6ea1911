// The targets X11 owners list beside their content (ICCCM 2.6.2, and what toolkits add), and
// how a snapshot of the clipboard treats each.

#include "platform/x11/x11_clipboard.hpp"

namespace deskagent::platform::x11 {

const std::vector<PasteboardTypeRule>& x11TypeRules() {
  static const std::vector<PasteboardTypeRule> rules = {
      {"TARGETS", TypeRule::meta, "the list of targets itself"},
      {"MULTIPLE", TypeRule::meta, "asks for several targets in one request"},
      {"TIMESTAMP", TypeRule::meta, "when the owner took the selection"},
      {"SAVE_TARGETS", TypeRule::meta, "asks a clipboard manager to keep the content"},
      {"DELETE", TypeRule::meta, "asks the owner to delete the selected data"},
      {"INSERT_SELECTION", TypeRule::meta, "asks the owner to insert another selection"},
      {"INSERT_PROPERTY", TypeRule::meta, "asks the owner to insert a property's data"},
      {"LENGTH", TypeRule::meta, "the size of the selection, obsolete"},
      {"ATOM_PAIR", TypeRule::meta, "the type of MULTIPLE's parameters"},
      {"CLIENT_WINDOW", TypeRule::meta, "the owner's window"},
      {"PIXMAP", TypeRule::leftOut, "a server resource of the owner's, gone with it"},
      {"BITMAP", TypeRule::leftOut, "a server resource of the owner's, gone with it"},
      {"DRAWABLE", TypeRule::leftOut, "a server resource of the owner's, gone with it"},
      {"WINDOW", TypeRule::leftOut, "a server resource of the owner's, gone with it"},
      {"COLORMAP", TypeRule::leftOut, "a server resource of the owner's, gone with it"},
      {"TEXT", TypeRule::leftOut, "the text again, in an encoding the owner picks when asked"},
      {"image/*", TypeRule::imageEncoding, "one image, encoded on request in each format"},
      {"application/x-qt-image", TypeRule::imageEncoding, "Qt's own name for its image, as PNG"},
      {"text/ico", TypeRule::imageEncoding, "GTK's image again, as an icon file"},
      {"application/ico", TypeRule::imageEncoding, "GTK's image again, as an icon file"},
  };
  return rules;
}

}  // namespace deskagent::platform::x11
