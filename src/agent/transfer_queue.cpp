#include "agent/transfer_queue.hpp"

#include "agent/agent.hpp"
#include "agent/protocol.hpp"

namespace deskagent {

Transfer::~Transfer() {
  cancelPending();
}

void Transfer::schedule(Duration delay, std::function<void(Transfer&)> step) {
  cancelPending();
  if (finished_) return;
  std::weak_ptr<Transfer> weak = weak_from_this();
  pending_ = agent_.loop.postDelayed(delay, [weak, step = std::move(step)] {
    auto self = weak.lock();  // keeps the transfer alive while its step runs
    if (!self) return;
    self->pending_.reset();
    step(*self);
  });
}

void Transfer::saveUsersClipboard(std::function<void(Transfer&)> step) {
  std::weak_ptr<Transfer> weak = weak_from_this();
  saveClipboard(agent_.platform, [weak, step = std::move(step)](SavedClipboard saved) {
    auto self = weak.lock();
    if (!self || self->finished_) return;
    self->saved_ = std::move(saved);
    step(*self);
  });
}

void Transfer::postStep(std::function<void(Transfer&)> step) {
  if (finished_) return;
  std::weak_ptr<Transfer> weak = weak_from_this();
  agent_.loop.post([weak, step = std::move(step)] {
    auto self = weak.lock();
    if (self && !self->finished_) step(*self);
  });
}

void Transfer::cancelPending() {
  if (pending_) agent_.loop.cancel(*pending_);
  pending_.reset();
}

bool Transfer::refusedForAccessibility(const char* eventType) {
  if (agent_.platform.isProcessTrusted(/*prompt=*/false)) return false;
  refuse(eventType, "accessibility");
  return true;
}

bool Transfer::refusedForClipboard(const char* eventType) {
  if (saved_.complete()) return false;
  refuse(eventType, "clipboard");
  return true;
}

void Transfer::refuse(const char* eventType, const char* reason) {
  emit(agent_, Event{{"type", eventType}, {"ok", false}, {"reason", reason}});
  finish();
}

void Transfer::finish() {
  if (finished_) return;
  finished_ = true;
  cancelPending();
  agent_.transfers.finished(*this);
}

TransferQueue::TransferQueue(Agent&) {}

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

void TransferQueue::startWaiting() {
  // A transfer that finishes inside start() (a refusal) lands back here; looping instead of
  // recursing keeps a long run of refusals off the stack.
  if (starting_) return;
  starting_ = true;
  while (!active_ && !waiting_.empty()) {
    active_ = std::move(waiting_.front());
    waiting_.pop_front();
    std::shared_ptr<Transfer> running = active_;
    running->start();
  }
  starting_ = false;
}

}  // namespace deskagent
