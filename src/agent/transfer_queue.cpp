#include "agent/transfer_queue.hpp"

#include <algorithm>
#include <cassert>
#include <new>

#include "agent/agent.hpp"
#include "agent/delays.hpp"
#include "agent/protocol.hpp"

namespace deskagent {

Transfer::Transfer(Agent& agent, std::initializer_list<PhaseStep> steps)
    : agent_(agent), steps_(steps) {}

Transfer::~Transfer() {
  cancelPending();
}

void Transfer::begin() {
  std::weak_ptr<Transfer> weak = weak_from_this();
  if (agent_.recopyGuard->afterRead([weak] {
        if (auto self = weak.lock(); self && self->phase_ == TransferPhase::queued) self->begin();
      })) {
    return;
  }
  // A manager's late copy of the last dictated text may be on the clipboard by the time this
  // transfer saves it, or land while it does: that is not what the user had.
  guarded_ = agent_.recopyGuard->end();
  runStep([](Transfer& self) { self.start(); });
}

void Transfer::advance(TransferPhase next) {
  // Ending is always open to a transfer (a refusal, memory run out); every other step is one
  // its kind takes.
  [[maybe_unused]] bool taken =
      next == TransferPhase::done ||
      std::find(steps_.begin(), steps_.end(), PhaseStep{phase_, next}) != steps_.end();
  assert(taken && "a transfer took a step its kind does not take");
  phase_ = next;
}

void Transfer::runStep(const std::function<void(Transfer&)>& step) {
  try {
    step(*this);
  } catch (const std::bad_alloc&) {
    try {
      outOfMemory();
    } catch (...) {
      finish();  // nothing more can be done for it; the next transfer gets the clipboard
    }
  }
}

void Transfer::schedule(Duration delay, std::function<void(Transfer&)> step) {
  cancelPending();
  if (phase_ == TransferPhase::done) return;
  std::weak_ptr<Transfer> weak = weak_from_this();
  pending_ = agent_.loop.postDelayed(delay, [weak, step = std::move(step)] {
    auto self = weak.lock();  // keeps the transfer alive while its step runs
    if (!self) return;
    self->pending_.reset();
    self->runStep(step);
  });
}

void Transfer::postStep(std::function<void(Transfer&)> step) {
  if (phase_ == TransferPhase::done) return;
  std::weak_ptr<Transfer> weak = weak_from_this();
  agent_.loop.post([weak, step = std::move(step)] {
    auto self = weak.lock();
    if (self && self->phase_ != TransferPhase::done) self->runStep(step);
  });
}

void Transfer::hurry() {
  if (snapshot_) snapshot_->shortenTo(delays::kSnapshotCeilingWhileEnding);
  if (phase_ == TransferPhase::queued) agent_.recopyGuard->releaseWaiter();
}

void Transfer::takeSnapshot(std::function<void(Transfer&, SavedClipboard)> step) {
  std::weak_ptr<Transfer> weak = weak_from_this();
  Duration ceiling =
      agent_.transfers.hurried() ? delays::kSnapshotCeilingWhileEnding : delays::kSnapshotCeiling;
  snapshot_ = ClipboardSnapshot::take(
      agent_.loop, agent_.platform, ceiling, [weak, step = std::move(step)](SavedClipboard saved) {
        auto self = weak.lock();
        if (!self || self->phase_ == TransferPhase::done) return;
        self->snapshot_.reset();
        const auto& guarded = self->guarded_;
        if (guarded && saved.whole && guarded->dictated.heldBy(saved)) saved = guarded->saved;
        self->runStep([&](Transfer& t) { step(t, std::move(saved)); });
      });
}

platform::PasteboardTextCallback Transfer::textCallback(
    std::function<void(Transfer&, std::optional<std::string>)> step) {
  std::weak_ptr<Transfer> weak = weak_from_this();
  return [weak, step = std::move(step)](std::optional<std::string> text) {
    auto self = weak.lock();
    if (!self || self->phase_ == TransferPhase::done) return;
    self->runStep([&](Transfer& t) { step(t, std::move(text)); });
  };
}

bool Transfer::copyOfDictated(std::string_view text) const {
  return (dictated_ && dictated_->copiedIn(text)) ||
         (guarded_ && guarded_->dictated.copiedIn(text));
}

void Transfer::cancelPending() {
  if (pending_) agent_.loop.cancel(*pending_);
  pending_.reset();
  if (snapshot_) std::exchange(snapshot_, nullptr)->cancel();
}

bool Transfer::refusedForAccessibility(const char* eventType) {
  if (agent_.platform.isProcessTrusted(/*prompt=*/false)) return false;
  refuse(eventType, "accessibility");
  return true;
}

void Transfer::refuse(const char* eventType, const char* reason) {
  emit(agent_, Event{{"type", eventType}, {"ok", false}, {"reason", reason}});
  finish();
}

void Transfer::restoreThenFinish() {
  advance(TransferPhase::restoring);
  tryRestore(delays::kRestoreAttempts);
}

void Transfer::tryRestore(int attemptsLeft) {
  try {
    restoreClipboard(agent_.platform, saved_);
    if (dictated_ && saved_.whole) agent_.recopyGuard->start(saved_, *dictated_);
  } catch (const std::bad_alloc&) {
    // The user's content is still held here: it goes back once there is room again.
    if (attemptsLeft > 1) {
      std::weak_ptr<Transfer> weak = weak_from_this();
      pending_ = agent_.loop.postDelayed(delays::kRestoreRetry, [weak, attemptsLeft] {
        if (auto self = weak.lock()) {
          self->pending_.reset();
          self->tryRestore(attemptsLeft - 1);
        }
      });
      return;
    }
  }
  finish();
}

void Transfer::finish() {
  if (phase_ == TransferPhase::done) return;
  advance(TransferPhase::done);
  cancelPending();
  saved_ = {};
  guarded_.reset();
  agent_.transfers.finished(*this);
}

void TransferQueue::submit(std::shared_ptr<Transfer> transfer) {
  waiting_.push_back(std::move(transfer));
  startWaiting();
}

void TransferQueue::finished(const Transfer& transfer) {
  if (active_.get() != &transfer) return;
  // The caller is a step of the transfer and holds it alive until the step returns.
  active_.reset();
  startWaiting();
}

void TransferQueue::hurry() {
  hurried_ = true;
  if (active_) active_->hurry();
}

void TransferQueue::startWaiting() {
  // A transfer that finishes inside begin() (a refusal) lands back here; looping instead of
  // recursing keeps a long run of refusals off the stack.
  if (starting_) return;
  starting_ = true;
  while (!active_ && !waiting_.empty()) {
    active_ = std::move(waiting_.front());
    waiting_.pop_front();
    std::shared_ptr<Transfer> running = active_;
    running->begin();
  }
  starting_ = false;
}

}  // namespace deskagent
