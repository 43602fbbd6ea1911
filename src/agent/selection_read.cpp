#include "agent/selection_read.hpp"

#include <algorithm>

#include "agent/agent.hpp"
#include "agent/delays.hpp"
#include "agent/pasteboard.hpp"
#include "agent/protocol.hpp"

namespace deskagent {

using Phase = TransferPhase;

SelectionRead::SelectionRead(Agent& agent)
    : Transfer(agent, {
                          {Phase::queued, Phase::readingInPlace},
                          {Phase::queued, Phase::saving},
                          {Phase::saving, Phase::chordSent},
                          {Phase::chordSent, Phase::readingCopy},
                          {Phase::chordSent, Phase::watchingLateCopy},
                          {Phase::chordSent, Phase::savingNewer},
                          {Phase::chordSent, Phase::restoring},  // memory ran out
                          {Phase::readingCopy, Phase::restoring},
                          {Phase::readingCopy, Phase::watchingLateCopy},
                          {Phase::watchingLateCopy, Phase::restoring},
                          {Phase::watchingLateCopy, Phase::savingNewer},
                          {Phase::savingNewer, Phase::chordSent},
                          {Phase::savingNewer, Phase::watchingLateCopy},
                      }) {}

void SelectionRead::start() {
  if (refusedForAccessibility("selection")) return;
  // Read where it lies where the platform can: no chord, and the clipboard is never touched.
  if (agent_.platform.readSelectedTextWithoutCopying(whenText(&SelectionRead::readInPlace))) {
    advance(Phase::readingInPlace);
    return;
  }
  advance(Phase::saving);
  saveClipboardThen(&SelectionRead::clipboardSaved);
}

void SelectionRead::readInPlace(std::optional<std::string> text) {
  report(text.value_or(std::string()));
  finish();
}

void SelectionRead::clipboardSaved(SavedClipboard saved) {
  platform::Platform& platform = agent_.platform;
  saved_ = std::move(saved);
  // A copy would replace a user's content that could not be read whole.
  if (!saved_.whole) {
    refuse("selection", "clipboard");
    return;
  }
  // After the save: a copy during it would otherwise go unnoticed.
  savedChangeCount_ = platform.pasteboardChangeCount();
  lastCount_ = savedChangeCount_;
  advance(Phase::chordSent);
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

void SelectionRead::look() {
  TimePoint now = agent_.loop.now();
  std::int64_t count = agent_.platform.pasteboardChangeCount();
  if (count != lastCount_) {
    lastCount_ = count;
    lastCountSince_ = now;
  }
  bool copied = count != savedChangeCount_;
  bool settled = copied && now - lastCountSince_ >= delays::kCopySettle;
  if (settled && copiedBySomeoneElse()) {
    keepNewerCopy();
    return;
  }

  if (phase() == Phase::chordSent) {
    TimePoint answerBy = chordPostedAt_ + agent_.selectionCopyDelay;
    if (settled || now >= answerBy) {
      answer(copied, settled);
    } else {
      pollAgain(answerBy);
    }
    return;
  }

  // Answered with nothing copied: a late copy is the application's, not the user's (where the
  // platform cannot tell the two apart, the user's copy is undone as well).
  TimePoint watchUntil = chordPostedAt_ + delays::kLateCopyWindow;
  if (settled || (copied && now >= watchUntil)) {
    restoreThenFinish();
  } else if (now >= watchUntil) {
    finish();
  } else {
    pollAgain(watchUntil);
  }
}

void SelectionRead::keepNewerCopy() {
  // The user copied in another application meanwhile: that copy is newer than what we saved,
  // and it is what comes back should the application's own copy still land.
  resumeAfterNewer_ = phase();
  advance(Phase::savingNewer);
  saveClipboardThen(&SelectionRead::newerCopySaved);
}

void SelectionRead::newerCopySaved(SavedClipboard saved) {
  if (!saved.whole) {
    // It cannot be saved, so nothing may be written over it: leave the clipboard as it is.
    if (!answered_) report(std::string());
    finish();
    return;
  }
  saved_ = std::move(saved);
  savedChangeCount_ = agent_.platform.pasteboardChangeCount();
  lastCount_ = savedChangeCount_;
  lastCountSince_ = agent_.loop.now();
  advance(resumeAfterNewer_);
  look();
}

void SelectionRead::answer(bool copied, bool settled) {
  // A copy still moving at the deadline and known to be someone else's is no selection.
  if (copied && !settled && copiedBySomeoneElse()) copied = false;
  if (!copied) {
    report(std::string());
    advance(Phase::watchingLateCopy);
    pollAgain(chordPostedAt_ + delays::kLateCopyWindow);
    return;
  }
  copySettled_ = settled;
  advance(Phase::readingCopy);
  agent_.platform.readPasteboardText(whenText(&SelectionRead::copyRead));
}

void SelectionRead::copyRead(std::optional<std::string> text) {
  report(text.value_or(std::string()));
  // A copy still moving at the deadline may have a write to come: it is undone once settled.
  if (copySettled_) {
    restoreThenFinish();
    return;
  }
  advance(Phase::watchingLateCopy);
  pollAgain(chordPostedAt_ + delays::kLateCopyWindow);
}

void SelectionRead::report(std::string text) {
  answered_ = true;
  if (!text.empty()) {
    emit(agent_, Event{{"type", "selection"}, {"ok", true}, {"text", std::move(text)}});
  } else {
    emit(agent_, Event{{"type", "selection"}, {"ok", false}, {"reason", "empty"}});
  }
}

void SelectionRead::pollAgain(TimePoint deadline) {
  TimePoint now = agent_.loop.now();
  after(std::min(delays::kCopyPoll, deadline - now), &SelectionRead::look);
}

void SelectionRead::outOfMemory() {
  Phase now = phase();
  bool afterChord =
      now == Phase::chordSent || now == Phase::readingCopy || now == Phase::watchingLateCopy;
  bool copyLanded = afterChord && agent_.platform.pasteboardChangeCount() != savedChangeCount_;
  if (!answered_) {
    answered_ = true;
    emit(agent_, Event{{"type", "selection"}, {"ok", false}, {"reason", "clipboard"}});
  }
  // The application's copy is not the user's: the saved content goes back where one landed.
  if (copyLanded) {
    restoreThenFinish();
  } else {
    finish();
  }
}

}  // namespace deskagent
