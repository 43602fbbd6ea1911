#pragma once

// What crosses the seam about the clipboard: its content as bytes by type, what it offers, what
// one read of one type gave, and each backend's rules for types that are not content.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loop/clock.hpp"

namespace deskagent::platform {

// Immutable bytes, shared by whoever holds them: a saved clipboard and every target or format
// that offers it back hold one copy between them, however many readers ask.
class Bytes {
 public:
  Bytes() = default;
  Bytes(std::string bytes)  // NOLINT(google-explicit-constructor): bytes are made from strings
      : shared_(std::make_shared<const std::string>(std::move(bytes))) {}
  Bytes(const char* bytes) : Bytes(std::string(bytes)) {}  // NOLINT(google-explicit-constructor)

  const std::string& str() const { return shared_ ? *shared_ : none(); }
  const char* data() const { return str().data(); }
  std::size_t size() const { return str().size(); }
  bool empty() const { return str().empty(); }

  bool operator==(const Bytes& other) const { return str() == other.str(); }

 private:
  static const std::string& none() {
    static const std::string nothing;
    return nothing;
  }
  std::shared_ptr<const std::string> shared_;
};

// One representation of a clipboard item: a type identifier (a UTI on macOS, a target name or
// MIME type on X11 and Wayland, a format name on Windows) and its bytes.
struct PasteboardRepresentation {
  std::string type;
  Bytes data;
  bool operator==(const PasteboardRepresentation&) const = default;
};

// Everything a clipboard item holds, in its owner's order of preference.
struct PasteboardItem {
  std::vector<PasteboardRepresentation> representations;
  bool operator==(const PasteboardItem&) const = default;
};

// The content of the clipboard, every item with every type it is saved as. No items: empty.
struct PasteboardContents {
  std::vector<PasteboardItem> items;
  bool operator==(const PasteboardContents&) const = default;
};

// Why one offered type, or the list of types, could not be read.
enum class PasteboardReadError {
  refused,     // the owner answered that it has no such data: there is nothing to lose
  failed,      // the read could not be made or broke off (owner gone, clipboard held, no memory)
  timedOut,    // the owner did not answer, or stopped sending, in time
  overBudget,  // larger than what the snapshot had left of its budget
  malformed,   // answered, but not in the form asked for
};

// What the clipboard offers right now: each item's types, in the owner's order of preference.
struct PasteboardListing {
  std::vector<std::vector<std::string>> items;
  std::optional<PasteboardReadError> error;  // set when even the list could not be had
};

// The bounds of one read, set by the agent's snapshot policy. The backend ends the read with
// `overBudget` past `maxBytes`, and with `timedOut` when its owner has sent nothing within
// `firstAnswer`, or nothing more for `silence` once it has started.
struct PasteboardReadLimits {
  std::size_t maxBytes = 0;
  Duration firstAnswer{};
  Duration silence{};
};

// What one read of one type gave: its bytes, or why not.
struct PasteboardTypeRead {
  Bytes bytes;
  std::optional<PasteboardReadError> error;
};

using PasteboardListingCallback = std::function<void(PasteboardListing)>;
using PasteboardTypeCallback = std::function<void(PasteboardTypeRead)>;
using PasteboardTextCallback = std::function<void(std::optional<std::string>)>;

// How the snapshot treats a type a backend's clipboard may offer.
enum class TypeRule {
  meta,           // about the clipboard, not its content (a list of targets, a time stamp)
  leftOut,        // content that is not saved (derived from another type, or not bytes at all);
                  // an item left with nothing else cannot be saved
  keptWhenAlone,  // saved only when the item offers nothing else that is saved
  imageEncoding,  // one image in one of several encodings: one of them is saved for all
};

// One entry of a backend's list: a type name, or a prefix when `pattern` ends in '*'.
struct PasteboardTypeRule {
  std::string_view pattern;
  TypeRule rule;
  std::string_view why;
};

// The type that marks a clipboard holding an agent's dictated text, on every platform: another
// agent (another host's) finding it waits for that agent's restore instead of saving the text as
// the user's.
inline constexpr const char* kTransferMarkerType = "org.deskagent.transfer";

}  // namespace deskagent::platform
