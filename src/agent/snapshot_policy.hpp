#pragma once

// What a snapshot of the user's clipboard keeps, decided once for every backend: the backend
// lists and reads, this decides which types are read, how much may be held, and whether what
// was read is the user's content whole.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pasteboard.hpp"

namespace deskagent {

// The most one snapshot holds, all types together: room for real content (a raw 8K image, a
// long document in several encodings); held only while a transfer runs, shared with what is
// offered back.
inline constexpr std::size_t kSnapshotBudget = std::size_t{192} << 20;

// What to read of one item, in its owner's order, and whether content was left out by rule.
struct ItemPlan {
  std::vector<std::string> reads;
  bool contentLeftOut = false;
  bool operator==(const ItemPlan&) const = default;
};

// The rule a type falls under: the first entry of `rules` that names it (or whose pattern,
// ending in '*', is a prefix of it); nothing when it is plain content.
const platform::PasteboardTypeRule* ruleFor(std::string_view type,
                                            const std::vector<platform::PasteboardTypeRule>& rules);

// Of the encodings of one image, in the owner's order, the one to save: PNG where offered, else
// the owner's first lossless one, else its first.
std::size_t preferredImageEncoding(const std::vector<std::string>& encodings);

// Which types of each listed item to read.
std::vector<ItemPlan> planSnapshot(const platform::PasteboardListing& listing,
                                   const std::vector<platform::PasteboardTypeRule>& rules);

// Whether the listing shows an agent's dictated text (its own or another host's agent's).
bool holdsDictatedText(const platform::PasteboardListing& listing);

// Whether a read that ended with `error` leaves the snapshot whole: only an owner's "no such
// data" does, since nobody could have read that type from it.
inline bool leavesSnapshotWhole(platform::PasteboardReadError error) {
  return error == platform::PasteboardReadError::refused;
}

// Whether an item planned as `plan` and read into `kept` representations can be put back as the
// owner held it: one left with nothing while content was left out by rule cannot.
inline bool itemIsWhole(const ItemPlan& plan, std::size_t kept) {
  return kept > 0 || !plan.contentLeftOut;
}

}  // namespace deskagent
