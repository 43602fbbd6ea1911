#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "agent/saved_clipboard.hpp"
#include "loop/main_loop.hpp"

namespace deskagent {

struct Agent;

// One use of the clipboard on the host's behalf (a paste or a selection read), from saving the
// user's content to putting it back. Its delayed steps are one-shot loop tasks, so a process
// told to exit waits for them; they hold the transfer weakly and die with it.
class Transfer : public std::enable_shared_from_this<Transfer> {
 public:
  explicit Transfer(Agent& agent) : agent_(agent) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  virtual ~Transfer();

  // Called once, when the clipboard is the transfer's alone.
  virtual void start() = 0;

 protected:
  // Runs `step` once, `delay` from now, in place of any step still pending.
  template <class Derived>
  void after(Duration delay, void (Derived::*step)()) {
    schedule(delay, [step](Transfer& self) { (static_cast<Derived&>(self).*step)(); });
  }
  // Runs `step` on the loop soon, unless the transfer is over by then. Leaves a pending
  // delayed step alone; for notices that may arrive from inside a platform call.
  template <class Derived>
  void soon(void (Derived::*step)()) {
    postStep([step](Transfer& self) { (static_cast<Derived&>(self).*step)(); });
  }
  // Takes what the user has on the clipboard into saved_, then runs `step`: at once, or on a
  // later turn of the loop where the platform reads a large content a little at a time.
  template <class Derived>
  void saveClipboardThen(void (Derived::*step)()) {
    saveUsersClipboard([step](Transfer& self) { (static_cast<Derived&>(self).*step)(); });
  }
  // Hands the clipboard on to the next transfer. The last thing a step does.
  void finish();
  // The gate every transfer passes first: without Accessibility trust (asked without a prompt)
  // the host gets {"type":eventType,"ok":false,"reason":"accessibility"}, the clipboard is not
  // touched, and the transfer is over.
  bool refusedForAccessibility(const char* eventType);
  // The gate after the save: a user's content that could not be read whole is never replaced.
  // The host gets {"type":eventType,"ok":false,"reason":"clipboard"}, no chord is sent, and the
  // transfer is over.
  bool refusedForClipboard(const char* eventType);
  // {"type":eventType,"ok":false,"reason":reason}, and the transfer is over.
  void refuse(const char* eventType, const char* reason);

  Agent& agent_;
  SavedClipboard saved_;

 private:
  void saveUsersClipboard(std::function<void(Transfer&)> step);
  void schedule(Duration delay, std::function<void(Transfer&)> step);
  void postStep(std::function<void(Transfer&)> step);
  void cancelPending();

  std::optional<TimerId> pending_;
  bool finished_ = false;
};

// Runs transfers one at a time, in the order the host asked for them: each saves what the user
// had, not what an earlier transfer left, and each event comes out in command order.
class TransferQueue {
 public:
  // Each transfer carries the agent itself; the queue only orders them.
  explicit TransferQueue(Agent& agent);

  // Starts the transfer now when the clipboard is free, else after the ones before it.
  void submit(std::shared_ptr<Transfer> transfer);
  // Called by the running transfer when it is done with the clipboard.
  void finished(const Transfer& transfer);

  bool idle() const { return !active_ && waiting_.empty(); }
  std::size_t waiting() const { return waiting_.size(); }

 private:
  void startWaiting();

  std::shared_ptr<Transfer> active_;
  std::deque<std::shared_ptr<Transfer>> waiting_;
  bool starting_ = false;
};

}  // namespace deskagent
