#include "agent/paste_transfer.hpp"

#include <algorithm>

#include "agent/agent.hpp"
#include "agent/delays.hpp"
#include "agent/pasteboard.hpp"
#include "agent/protocol.hpp"

namespace deskagent {

using Phase = TransferPhase;

PasteTransfer::PasteTransfer(Agent& agent, std::string text)
    : Transfer(agent,
               {
                   {Phase::queued, Phase::saving},
                   {Phase::saving, Phase::chordSent},
                   {Phase::chordSent, Phase::awaitingRead},
                   {Phase::chordSent, Phase::restoring},
                   {Phase::awaitingRead, Phase::restoring},
               }),
      text_(std::move(text)) {}

void PasteTransfer::start() {
  if (refusedForAccessibility("paste")) return;
  advance(Phase::saving);
  saveClipboardThen(&PasteTransfer::clipboardSaved);
}

void PasteTransfer::clipboardSaved(SavedClipboard saved) {
  platform::Platform& platform = agent_.platform;
  saved_ = std::move(saved);
  // A user's content that could not be read whole is never replaced.
  if (!saved_.whole) {
    refuse("paste", "clipboard");
    return;
  }
  std::weak_ptr<Transfer> weak = weak_from_this();
  writing_ = true;
  auto written = platform.writePasteboardTextNotifyingRead(text_, [weak] {
    if (auto self = std::static_pointer_cast<PasteTransfer>(weak.lock())) {
      self->soon(&PasteTransfer::targetRead);
    }
  });
  if (written == platform::PasteboardTextWrite::failed) {
    // The chord would paste what the user has on the clipboard. Nothing was written, so nothing
    // is put back.
    refuse("paste", "clipboard");
    return;
  }
  platformNotifiesRead_ = written == platform::PasteboardTextWrite::writtenNotifyingRead;
  writtenChangeCount_ = platform.pasteboardChangeCount();
  dictated_ = DictatedText(text_);
  text_ = std::string();  // the clipboard has it now
  advance(Phase::chordSent);
  postCommandKeyChord(agent_, platform.keyCodeForShortcutLetter('v', agent_.virtualKeyV));
  emit(agent_, Event{{"type", "paste"}, {"ok", true}});
  answered_ = true;
  // Saving a large clipboard can take a while: the target's time starts at the chord.
  agent_.loop.updateNow();
  chordAt_ = agent_.loop.now();
  after(agent_.pasteboardRestoreDelay, &PasteTransfer::earliestRestoreDue);
}

void PasteTransfer::earliestRestoreDue() {
  bool replaced = agent_.platform.pasteboardChangeCount() != writtenChangeCount_;
  if (!platformNotifiesRead_ || replaced) {
    restoreUnlessReplaced();
    return;
  }
  advance(Phase::awaitingRead);
  restoreOnceReadsSettle();
}

// Once the target's reads have stopped for the settle period; without one, at the latest.
void PasteTransfer::restoreOnceReadsSettle() {
  TimePoint now = agent_.loop.now();
  TimePoint due = chordAt_ + delays::kLatestRestore;
  if (lastReadAt_) due = std::min(due, *lastReadAt_ + delays::kReadSettle);
  if (now >= due) {
    restoreUnlessReplaced();
  } else {
    after(due - now, &PasteTransfer::restoreOnceReadsSettle);
  }
}

void PasteTransfer::targetRead() {
  lastReadAt_ = agent_.loop.now();
  if (phase() == Phase::awaitingRead) restoreOnceReadsSettle();
}

void PasteTransfer::restoreUnlessReplaced() {
  if (agent_.platform.pasteboardChangeCount() != writtenChangeCount_) {
    agent_.platform.readPasteboardText(whenText(&PasteTransfer::replacedBy));
    return;
  }
  agent_.platform.pasteFinished();
  restoreThenFinish();
}

// Whatever replaced our text since we wrote it (the user's copy, another application) is newer
// than what we saved, and theirs; but not a clipboard manager's copy of the dictated text, or
// of the one before (clipman takes every new clipboard over as its own). The target may read that
// copy without our hearing of it, and the reads we heard may have been the manager's: that copy
// stays until the latest restore.
void PasteTransfer::replacedBy(std::optional<std::string> text) {
  const bool recopied = text && copyOfDictated(*text);
  TimePoint now = agent_.loop.now();
  const TimePoint latest = chordAt_ + delays::kLatestRestore;
  if (recopied && now < latest) {
    after(latest - now, &PasteTransfer::restoreUnlessReplaced);
    return;
  }
  agent_.platform.pasteFinished();
  if (recopied) {
    restoreThenFinish();
  } else {
    finish();
  }
}

void PasteTransfer::outOfMemory() {
  switch (phase()) {
    case Phase::queued:
    case Phase::saving:
      // Before the chord: the host learns the paste did not happen, and what the text may have
      // replaced is put back.
      if (writing_) restoreClipboard(agent_.platform, saved_);
      refuse("paste", "clipboard");
      return;
    case Phase::chordSent:
    case Phase::awaitingRead:
      if (!answered_)
        emit(agent_, Event{{"type", "paste"}, {"ok", false}, {"reason", "clipboard"}});
      answered_ = true;
      restoreUnlessReplaced();
      return;
    default:
      finish();
      return;
  }
}

}  // namespace deskagent
