#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/saved_clipboard.hpp"
#include "loop/main_loop.hpp"

namespace deskagent {

struct Agent;

// A dictated text known again without a second copy of it: its size and a hash. A clipboard
// manager's copy counts as the text even with trailing line feeds dropped (clipman drops one
// with each copy it makes, and copies its own copy again).
class DictatedText {
 public:
  DictatedText() = default;
  explicit DictatedText(std::string_view text);
  bool copiedIn(std::string_view text) const;
  // Whether any type of the content holds it.
  bool heldBy(const SavedClipboard& saved) const;

 private:
  std::size_t size_ = 0;
  std::size_t trimmedSize_ = 0;
  std::size_t trimmedHash_ = 0;
};

// What a guard hands on to the transfer that ends it.
struct GuardedClipboard {
  SavedClipboard saved;  // the user's, as last put back
  DictatedText dictated;
};

// After a paste has put the user's clipboard back, a clipboard manager may still bring the
// dictated text back as its own copy, late (clipman under load). For kRecopyGuard the agent
// looks at the change count on a timer: a new clipboard that is the dictated text gets the
// user's clipboard put back over it; the manager taking the user's own text over changes
// nothing; anything else is the user's copy and ends the guard. A next transfer ends it too,
// taking over what it held; so does the end of the agent's input (the clipboard stays as it is).
class RecopyGuard : public std::enable_shared_from_this<RecopyGuard> {
 public:
  explicit RecopyGuard(Agent& agent) : agent_(agent) {}

  // Called right after `saved` was put back over `dictated`.
  void start(const SavedClipboard& saved, DictatedText dictated);
  // Ends the guard; what it held, if it was on.
  std::optional<GuardedClipboard> end();
  // Runs `then` once no read of the guard's is under way: at once, or when its answer comes (an
  // owner asked again by the same window before it has sent a large answer whole, xclip for
  // one, may not answer the second request). True when it waits.
  bool afterRead(Task then);
  // What waits for the read runs now: its answer has come, or the agent is ending (and then
  // nothing waits for one again).
  void releaseWaiter();

 private:
  void look();
  void textRead(std::uint64_t generation, std::optional<std::string> text);
  bool usersOwnText(std::string_view text) const;

  Agent& agent_;
  std::optional<GuardedClipboard> held_;
  TimePoint until_{};
  std::int64_t seenCount_ = 0;
  std::uint64_t generation_ = 0;  // a read made for an earlier guard is ignored
  bool readInFlight_ = false;     // whether or not the guard still wants its answer
  Task afterRead_;
  LoopHandle poll_;  // a repeating timer: it never holds up the agent's exit
};

}  // namespace deskagent
