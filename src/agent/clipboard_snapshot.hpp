#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "agent/saved_clipboard.hpp"
#include "agent/snapshot_policy.hpp"
#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent {

// Takes the user's clipboard as it is now, one type per turn of the main loop, so that key
// events and commands are served between the reads, and tells whether it was saved whole. A
// clipboard that holds an agent's dictated text is waited for until that agent has put the
// user's content back; one that changes while it is read is read again.
class ClipboardSnapshot : public std::enable_shared_from_this<ClipboardSnapshot> {
 public:
  using Done = std::function<void(SavedClipboard)>;

  // Starts a snapshot; `done` gets it on the main loop, never before this returns, unless the
  // snapshot is dropped first (cancel(), or the last reference let go).
  static std::shared_ptr<ClipboardSnapshot> take(MainLoop& loop, platform::Platform& platform,
                                                 Duration ceiling, Done done);
  ~ClipboardSnapshot();
  ClipboardSnapshot(const ClipboardSnapshot&) = delete;
  ClipboardSnapshot& operator=(const ClipboardSnapshot&) = delete;

  // Stops it: nothing more is read and `done` is never called.
  void cancel();
  // Gives up no later than `ceiling` from now.
  void shortenTo(Duration ceiling);

 private:
  ClipboardSnapshot(MainLoop& loop, platform::Platform& platform, Done done);
  // The platform's answer handed to `step`, unless the snapshot is over by then.
  template <class Answer>
  std::function<void(Answer)> whenAnswered(void (ClipboardSnapshot::*step)(Answer));
  void list();
  void listed(platform::PasteboardListing listing);
  void awaitOtherAgent();
  void readNext();
  void typeRead(platform::PasteboardTypeRead read);
  // Reads again from the start when the clipboard changed since it was listed; false when it
  // has changed too often.
  bool restartIfChanged();
  void end(bool whole);

  MainLoop& loop_;
  platform::Platform& platform_;
  Done done_;
  std::vector<ItemPlan> plans_;
  std::size_t item_ = 0;
  std::size_t type_ = 0;
  std::size_t total_ = 0;
  platform::PasteboardContents contents_;
  platform::PasteboardItem current_;
  std::int64_t listedCount_ = 0;
  int restarts_ = 0;
  TimePoint otherAgentSince_{};
  bool awaitingOtherAgent_ = false;
  bool reading_ = false;
  std::optional<TimerId> ceiling_;
  TimePoint ceilingAt_{};
  std::optional<TimerId> poll_;
  bool over_ = false;
};

}  // namespace deskagent
