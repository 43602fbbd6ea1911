#include "agent/selection_read.hpp"

#include <algorithm>
#include <chrono>

#include "agent/agent.hpp"
#include "agent/pasteboard.hpp"
#include "agent/protocol.hpp"

namespace deskagent {

namespace {

using std::chrono::milliseconds;

// Applications often clear the clipboard and write it in separate steps; a count that has not
// moved for this long is taken as the finished copy.
constexpr Duration kCopySettle = milliseconds(20);
constexpr Duration kPollInterval = milliseconds(10);
// How long after the chord a copy that came too late for the answer is still undone.
constexpr Duration kLateCopyWindow = std::chrono::seconds(1);

}  // namespace

void SelectionRead::start() {
  if (refusedForAccessibility("selection")) return;
  if (auto selected = agent_.platform.selectedTextWithoutCopying()) {
    // Read where it lies: no chord, and the clipboard is never touched.
    report(std::move(*selected));
    finish();
    return;
  }
  saveClipboardThen(&SelectionRead::clipboardSaved);
}

void SelectionRead::clipboardSaved() {
  platform::Platform& platform = agent_.platform;
  if (refusedForClipboard("selection")) return;
  // After the save: a copy during it would otherwise go unnoticed.
  savedChangeCount_ = platform.pasteboardChangeCount();
  lastCount_ = savedChangeCount_;
  postCommandKeyChord(agent_, platform.keyCodeForShortcutLetter('c', agent_.virtualKeyC));
  // Saving a large clipboard can take a while: the application's time starts at the chord.
  agent_.loop.updateNow();
  chordPostedAt_ = agent_.loop.now();
  lastCountSince_ = chordPostedAt_;
  pollAgain(chordPostedAt_ + agent_.selectionCopyDelay);
}

bool SelectionRead::copiedBySomeoneElse() {
  return agent_.platform.pasteboardWriter() == platform::PasteboardWriter::other;
}

bool SelectionRead::keepNewerCopy(TimePoint now) {
  // The user copied in another application meanwhile: that copy is newer than what we saved,
  // and it is what comes back should the application's own copy still land.
  SavedClipboard newer = saveClipboardNow(agent_.platform);
  if (!newer.complete()) {
    // It cannot be saved, so nothing may be written over it: leave the clipboard as it is.
    if (!answered_) report(std::string());
    finish();
    return false;
  }
  saved_ = std::move(newer);
  savedChangeCount_ = agent_.platform.pasteboardChangeCount();
  lastCount_ = savedChangeCount_;
  lastCountSince_ = now;
  return true;
}

void SelectionRead::look() {
  TimePoint now = agent_.loop.now();
  std::int64_t count = agent_.platform.pasteboardChangeCount();
  if (count != lastCount_) {
    lastCount_ = count;
    lastCountSince_ = now;
  }
  bool copied = count != savedChangeCount_;
  bool settled = copied && now - lastCountSince_ >= kCopySettle;
  if (settled && copiedBySomeoneElse()) {
    if (!keepNewerCopy(now)) return;
    copied = settled = false;
  }

  if (!answered_) {
    TimePoint answerBy = chordPostedAt_ + agent_.selectionCopyDelay;
    if (settled || now >= answerBy) {
      answer(copied, settled);
    } else {
      pollAgain(answerBy);
    }
    return;
  }

  // Answered "empty" with nothing copied: a late copy is the application's, not the user's
  // (where the platform cannot tell the two apart, the user's copy is undone as well).
  TimePoint watchUntil = chordPostedAt_ + kLateCopyWindow;
  if (settled || (copied && now >= watchUntil)) {
    restoreClipboard(agent_.platform, saved_);
    finish();
  } else if (now >= watchUntil) {
    finish();
  } else {
    pollAgain(watchUntil);
  }
}

void SelectionRead::answer(bool copied, bool settled) {
  answered_ = true;
  // A copy still moving at the deadline and known to be someone else's is no selection.
  if (copied && !settled && copiedBySomeoneElse()) copied = false;
  std::optional<std::string> text;
  if (copied) text = agent_.platform.pasteboardString();
  report(text.value_or(std::string()));
  // A copy still moving at the deadline may have a write to come: it is undone once settled.
  if (copied && settled) {
    restoreClipboard(agent_.platform, saved_);
    finish();
    return;
  }
  pollAgain(chordPostedAt_ + kLateCopyWindow);
}

void SelectionRead::report(std::string text) {
  if (!text.empty()) {
    emit(agent_, Event{{"type", "selection"}, {"ok", true}, {"text", std::move(text)}});
  } else {
    emit(agent_, Event{{"type", "selection"}, {"ok", false}, {"reason", "empty"}});
  }
}

void SelectionRead::pollAgain(TimePoint deadline) {
  TimePoint now = agent_.loop.now();
  after(std::min(kPollInterval, deadline - now), &SelectionRead::look);
}

}  // namespace deskagent
