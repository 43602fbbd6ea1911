#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

#include "agent/clipboard_snapshot.hpp"
#include "agent/recopy_guard.hpp"
#include "agent/saved_clipboard.hpp"
#include "loop/main_loop.hpp"

namespace deskagent {

struct Agent;

// Where a transfer is in its life. Each kind of transfer says which steps it takes from where.
enum class TransferPhase {
  queued,            // waiting for the clipboard to be free
  saving,            // the user's clipboard is being read
  chordSent,         // the shortcut is out: the application pastes, or copies
  awaitingRead,      // (paste) the earliest restore has passed; the target has not read yet
  readingInPlace,    // (read) the selection is read where it lies, without the shortcut
  readingCopy,       // (read) the application's copy is being read for the answer
  watchingLateCopy,  // (read) answered; a copy that lands now is still undone
  savingNewer,       // (read) the user copied elsewhere meanwhile: that is saved instead
  restoring,         // the user's clipboard is being put back
  done,
};

using PhaseStep = std::pair<TransferPhase, TransferPhase>;

// One use of the clipboard on the host's behalf (a paste or a selection read), from saving the
// user's content to putting it back. Its delayed steps are one-shot loop tasks, so a process
// told to exit waits for them; they hold the transfer weakly and die with it. No exception leaves
// a step: memory that runs out ends the transfer in its safest state.
class Transfer : public std::enable_shared_from_this<Transfer> {
 public:
  Transfer(Agent& agent, std::initializer_list<PhaseStep> steps);
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  virtual ~Transfer();

  // Called once, when the clipboard is the transfer's alone.
  void begin();
  TransferPhase phase() const { return phase_; }
  // The host has ended the agent's input: a save still waiting on the clipboard's owner gives up
  // soon, so the agent's exit is not held up.
  void hurry();

 protected:
  virtual void start() = 0;
  // Memory ran out in a step: the transfer ends as safely as it can from where it is.
  virtual void outOfMemory() = 0;

  // Moves to `next`; a step the transfer's kind does not take is a fault of ours.
  void advance(TransferPhase next);
  // Runs `step` once, `delay` from now, in place of any step still pending.
  template <class Derived>
  void after(Duration delay, void (Derived::*step)()) {
    schedule(delay, [step](Transfer& self) { (static_cast<Derived&>(self).*step)(); });
  }
  // Runs `step` on the loop soon, unless the transfer is over by then. Leaves a pending delayed
  // step alone; for notices that may arrive from inside a platform call.
  template <class Derived>
  void soon(void (Derived::*step)()) {
    postStep([step](Transfer& self) { (static_cast<Derived&>(self).*step)(); });
  }
  // Saves what the user has on the clipboard now, then hands it to `step` on a later turn.
  template <class Derived>
  void saveClipboardThen(void (Derived::*step)(SavedClipboard)) {
    takeSnapshot([step](Transfer& self, SavedClipboard saved) {
      (static_cast<Derived&>(self).*step)(std::move(saved));
    });
  }
  // A callback for a text the platform reads, handing it to `step` on a later turn unless the
  // transfer is over by then.
  template <class Derived>
  platform::PasteboardTextCallback whenText(void (Derived::*step)(std::optional<std::string>)) {
    return textCallback([step](Transfer& self, std::optional<std::string> text) {
      (static_cast<Derived&>(self).*step)(std::move(text));
    });
  }
  // The gate every transfer passes first: without Accessibility trust (asked without a prompt)
  // the host gets {"type":eventType,"ok":false,"reason":"accessibility"}, the clipboard is not
  // touched, and the transfer is over.
  bool refusedForAccessibility(const char* eventType);
  // {"type":eventType,"ok":false,"reason":reason}, and the transfer is over.
  void refuse(const char* eventType, const char* reason);
  // Puts the saved clipboard back, trying again a little later where memory ran out; then over.
  void restoreThenFinish();
  // Hands the clipboard on to the next transfer. The last thing a step does.
  void finish();

  Agent& agent_;
  SavedClipboard saved_;
  // Set: once the user's clipboard is back, a manager's late copy of this text is undone.
  std::optional<DictatedText> dictated_;
  // Whether `text` is a manager's copy of this transfer's dictated text or of the one before.
  bool copyOfDictated(std::string_view text) const;

 private:
  void runStep(const std::function<void(Transfer&)>& step);
  void schedule(Duration delay, std::function<void(Transfer&)> step);
  void postStep(std::function<void(Transfer&)> step);
  void takeSnapshot(std::function<void(Transfer&, SavedClipboard)> step);
  platform::PasteboardTextCallback textCallback(
      std::function<void(Transfer&, std::optional<std::string>)> step);
  void tryRestore(int attemptsLeft);
  void cancelPending();

  std::vector<PhaseStep> steps_;
  TransferPhase phase_ = TransferPhase::queued;
  std::optional<TimerId> pending_;
  std::shared_ptr<ClipboardSnapshot> snapshot_;
  // What the guard this transfer ended held: a manager's copy of the text before may still land.
  std::optional<GuardedClipboard> guarded_;
};

// Runs transfers one at a time, in the order the host asked for them: each saves what the user
// had, not what an earlier transfer left, and each event comes out in command order.
class TransferQueue {
 public:
  // Starts the transfer now when the clipboard is free, else after the ones before it.
  void submit(std::shared_ptr<Transfer> transfer);
  // Called by the running transfer when it is done with the clipboard.
  void finished(const Transfer& transfer);
  // The host has ended the agent's input: every transfer left runs, saving in a hurry.
  void hurry();
  bool hurried() const { return hurried_; }

  bool idle() const { return !active_ && waiting_.empty(); }
  std::size_t waiting() const { return waiting_.size(); }

 private:
  void startWaiting();

  std::shared_ptr<Transfer> active_;
  std::deque<std::shared_ptr<Transfer>> waiting_;
  bool starting_ = false;
  bool hurried_ = false;
};

}  // namespace deskagent
