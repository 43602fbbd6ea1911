// What a snapshot of the general pasteboard leaves out, and why.
//
// An item lists each type by its identifier. A name that no identifier declares gets a dynamic
// one, "dyn.a" and the name's tag string ("?0=6:4=NAME" for a pasteboard type name) in a
// base-32 of the system's (alphabet abcdefghkmnpqrstuvwxyz0123456789): so a type written under a
// legacy pasteboard name, or as a MIME type by a cross-platform application, reaches us as
// dyn.… and is the only name its data has. Only the Carbon flavors (tag class com.apple.ostype:
// 'styl', 'ustl', ...) are the system's translations of another type on the item.

#include "platform/macos/mac_type_rules.hpp"

namespace deskagent::platform {

const std::vector<PasteboardTypeRule>& macTypeRules() {
  static const std::vector<PasteboardTypeRule> rules = {
      {"com.apple.pasteboard.promised-*", TypeRule::leftOut,
       "names a file promise; reading it makes the source application write the files"},
      {"Apple files promise pasteboard type", TypeRule::leftOut, "a file promise, legacy name"},
      {"com.apple.NSFilePromiseItemMetaData", TypeRule::leftOut, "a file promise's metadata"},
      {"NSPromiseContentsPboardType", TypeRule::leftOut, "a file promise, legacy name"},
      // The same three names as an item lists them: dynamic identifiers.
      {"dyn.ah62d4rv4gu8yc6durvwwa3xmrvw1gkdusm1044pxqyuha2pxsvw0e55bsmwca7d3sbwu",
       TypeRule::leftOut, "Apple files promise pasteboard type, as an item lists it"},
      {"dyn.ah62d4rv4gu80g55rf3u1a6dqqy1e6y4grf0gnydwr700w65fmf4gn5nrqz4gcvdbsvuu",
       TypeRule::leftOut, "com.apple.NSFilePromiseItemMetaData, as an item lists it"},
      {"dyn.ah62d4rv4gu8y6y4usm1044pxqzb085xyqz1hk64uqm10c6xenv61a3k", TypeRule::leftOut,
       "NSPromiseContentsPboardType, as an item lists it"},
      // "?0=6:2=": a Carbon flavor, translated by the system from another type on the item; the
      // data itself where the item has nothing else.
      {"dyn.ah62d4rv4gk8*", TypeRule::keptWhenAlone,
       "a Carbon flavor: the system's translation of another type on the item"},
  };
  return rules;
}

}  // namespace deskagent::platform
