#include "agent/paste_transfer.hpp"

#include <algorithm>
#include <chrono>

#include "agent/agent.hpp"
#include "agent/pasteboard.hpp"
#include "agent/protocol.hpp"

namespace deskagent {

namespace {

// Where the platform tells us when the target read the text, a target that has not read it by
// then is taken never to read it: the user gets their clipboard back.
constexpr Duration kLatestRestore = std::chrono::seconds(2);

}  // namespace

void PasteTransfer::start() {
  if (refusedForAccessibility("paste")) return;
  saveClipboardThen(&PasteTransfer::clipboardSaved);
}

void PasteTransfer::clipboardSaved() {
  platform::Platform& platform = agent_.platform;
  if (refusedForClipboard("paste")) return;
  std::weak_ptr<Transfer> weak = weak_from_this();
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
  text_ = std::string();  // the clipboard has it now
  postCommandKeyChord(agent_, platform.keyCodeForShortcutLetter('v', agent_.virtualKeyV));
  emit(agent_, Event{{"type", "paste"}, {"ok", true}});
  // Saving a large clipboard can take a while: the target's time starts at the chord.
  agent_.loop.updateNow();
  after(agent_.pasteboardRestoreDelay, &PasteTransfer::earliestRestoreDue);
}

void PasteTransfer::earliestRestoreDue() {
  bool replaced = agent_.platform.pasteboardChangeCount() != writtenChangeCount_;
  if (!platformNotifiesRead_ || targetHasRead_ || replaced) {
    restoreUnlessReplaced();
    return;
  }
  awaitingRead_ = true;
  after(std::max(kLatestRestore - agent_.pasteboardRestoreDelay, Duration::zero()),
        &PasteTransfer::restoreUnlessReplaced);
}

void PasteTransfer::targetRead() {
  targetHasRead_ = true;
  if (awaitingRead_) restoreUnlessReplaced();
}

void PasteTransfer::restoreUnlessReplaced() {
  // Whatever replaced our text since we wrote it (the user's copy, another application) is
  // newer than what we saved, and theirs.
  if (agent_.platform.pasteboardChangeCount() == writtenChangeCount_) {
    restoreClipboard(agent_.platform, saved_);
  }
  finish();
}

}  // namespace deskagent
