#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/transfer_queue.hpp"

namespace deskagent {

// Reads the frontmost application's selection: Command-C, the copied text as soon as the copy
// has landed, then the user's content back. A copy too late for the answer is still undone.
class SelectionRead final : public Transfer {
 public:
  explicit SelectionRead(Agent& agent);

 private:
  void start() override;
  void outOfMemory() override;
  void readInPlace(std::optional<std::string> text);
  void clipboardSaved(SavedClipboard saved);
  void look();
  void answer(bool copied, bool settled);
  void copyRead(std::optional<std::string> text);
  // Takes the clipboard's newer content, copied elsewhere by the user, as the one to put back.
  void keepNewerCopy();
  void newerCopySaved(SavedClipboard saved);
  // The one "selection" event: the text, or "empty" for none.
  void report(std::string text);
  void pollAgain(TimePoint deadline);
  bool copiedBySomeoneElse();

  std::int64_t savedChangeCount_ = 0;
  TimePoint chordPostedAt_{};
  // The last count seen and when it was first seen: a copy has landed once the count has moved
  // and then stayed still for a moment.
  std::int64_t lastCount_ = 0;
  TimePoint lastCountSince_{};
  bool copySettled_ = false;
  bool answered_ = false;
  TransferPhase resumeAfterNewer_ = TransferPhase::chordSent;
};

}  // namespace deskagent
