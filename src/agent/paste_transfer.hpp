#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/transfer_queue.hpp"

namespace deskagent {

// Puts a text into the frontmost application: the text on the clipboard, Command-V, then the
// user's content back once the target has read the text.
class PasteTransfer final : public Transfer {
 public:
  PasteTransfer(Agent& agent, std::string text);

 private:
  void start() override;
  void outOfMemory() override;
  void clipboardSaved(SavedClipboard saved);
  void earliestRestoreDue();
  void restoreOnceReadsSettle();
  void targetRead();
  void restoreUnlessReplaced();
  void replacedBy(std::optional<std::string> text);

  std::string text_;
  std::int64_t writtenChangeCount_ = 0;
  bool writing_ = false;  // the text may be on the clipboard: the user's content must come back
  bool platformNotifiesRead_ = false;
  TimePoint chordAt_{};
  std::optional<TimePoint> lastReadAt_;  // the target's latest read of the text
  bool answered_ = false;
};

}  // namespace deskagent
