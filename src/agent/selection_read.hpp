#pragma once

#include <cstdint>
#include <string>

#include "agent/transfer_queue.hpp"

namespace deskagent {

// Reads the frontmost application's selection: Command-C, the copied text as soon as the copy
// has landed, then the user's content back. A copy too late for the answer is still undone.
class SelectionRead final : public Transfer {
 public:
  explicit SelectionRead(Agent& agent) : Transfer(agent) {}

  void start() override;

 private:
  void clipboardSaved();
  void look();
  void answer(bool copied, bool settled);
  // The one "selection" event: the text, or "empty" for none.
  void report(std::string text);
  void pollAgain(TimePoint deadline);
  bool copiedBySomeoneElse();
  // Takes the clipboard's newer content as the one to put back; false (and over) when it cannot
  // be read whole.
  bool keepNewerCopy(TimePoint now);

  std::int64_t savedChangeCount_ = 0;
  TimePoint chordPostedAt_{};
  // The last count seen and when it was first seen: a copy has landed once the count has moved
  // and then stayed still for a moment.
  std::int64_t lastCount_ = 0;
  TimePoint lastCountSince_{};
  bool answered_ = false;
};

}  // namespace deskagent
