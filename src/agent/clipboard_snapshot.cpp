#include "agent/clipboard_snapshot.hpp"

#include <new>
#include <utility>

#include "agent/delays.hpp"

namespace deskagent {

namespace {

// How often a snapshot starts again because the clipboard changed while it was read.
constexpr int kMaxRestarts = 2;

}  // namespace

std::shared_ptr<ClipboardSnapshot> ClipboardSnapshot::take(MainLoop& loop,
                                                           platform::Platform& platform,
                                                           Duration ceiling, Done done) {
  std::shared_ptr<ClipboardSnapshot> snapshot(
      new ClipboardSnapshot(loop, platform, std::move(done)));
  snapshot->shortenTo(ceiling);
  snapshot->list();
  return snapshot;
}

void ClipboardSnapshot::shortenTo(Duration ceiling) {
  if (over_) return;
  TimePoint at = loop_.now() + ceiling;
  if (ceiling_ && at >= ceilingAt_) return;
  if (ceiling_) loop_.cancel(*ceiling_);
  ceilingAt_ = at;
  std::weak_ptr<ClipboardSnapshot> weak = weak_from_this();
  ceiling_ = loop_.postDelayed(ceiling, [weak] {
    if (auto self = weak.lock()) {
      self->ceiling_.reset();
      self->end(false);
    }
  });
}

ClipboardSnapshot::ClipboardSnapshot(MainLoop& loop, platform::Platform& platform, Done done)
    : loop_(loop), platform_(platform), done_(std::move(done)) {}

ClipboardSnapshot::~ClipboardSnapshot() {
  cancel();
}

template <class Answer>
std::function<void(Answer)> ClipboardSnapshot::whenAnswered(
    void (ClipboardSnapshot::*step)(Answer)) {
  std::weak_ptr<ClipboardSnapshot> weak = weak_from_this();
  return [weak, step](Answer answer) {
    auto self = weak.lock();
    if (!self || self->over_) return;
    self->reading_ = false;
    // A read that held the loop (macOS reads block until the owner answers) may end past the
    // deadline, and a loop may serve its answer before the due deadline: no further read then.
    if (self->loop_.now() >= self->ceilingAt_) {
      self->end(false);
      return;
    }
    try {
      (self.get()->*step)(std::move(answer));
    } catch (const std::bad_alloc&) {
      self->end(false);  // what was read so far is let go: the command is refused
    }
  };
}

void ClipboardSnapshot::cancel() {
  over_ = true;
  done_ = nullptr;
  if (ceiling_) loop_.cancel(*std::exchange(ceiling_, std::nullopt));
  if (poll_) loop_.cancel(*std::exchange(poll_, std::nullopt));
  if (std::exchange(reading_, false)) platform_.cancelPasteboardReads();
}

void ClipboardSnapshot::list() {
  listedCount_ = platform_.pasteboardChangeCount();
  reading_ = true;
  auto answer = whenAnswered(&ClipboardSnapshot::listed);
  // The user told the system never to let the host read the clipboard: every read would come
  // back empty, and a clipboard taken for empty would be replaced. Nothing is asked of it.
  if (platform_.pasteboardAccessBehavior() == platform::kPasteboardAccessAlwaysDeny) {
    loop_.post([answer] {
      answer(platform::PasteboardListing{{}, platform::PasteboardReadError::failed});
    });
    return;
  }
  platform_.listPasteboardTypes(std::move(answer));
}

void ClipboardSnapshot::listed(platform::PasteboardListing listing) {
  if (listing.error) {
    end(false);
    return;
  }
  if (holdsDictatedText(listing)) {
    awaitOtherAgent();
    return;
  }
  awaitingOtherAgent_ = false;
  plans_ = planSnapshot(listing, platform_.pasteboardTypeRules());
  item_ = type_ = total_ = 0;
  contents_ = {};
  current_ = {};
  readNext();
}

void ClipboardSnapshot::awaitOtherAgent() {
  // An agent's text is not the user's: its own agent puts the user's content back shortly.
  if (!std::exchange(awaitingOtherAgent_, true)) otherAgentSince_ = loop_.now();
  std::weak_ptr<ClipboardSnapshot> weak = weak_from_this();
  poll_ = loop_.postDelayed(delays::kOtherAgentPoll, [weak] {
    auto self = weak.lock();
    if (!self || self->over_) return;
    self->poll_.reset();
    if (self->platform_.pasteboardChangeCount() != self->listedCount_) {
      self->list();
    } else if (self->loop_.now() - self->otherAgentSince_ >= delays::kOtherAgentWait) {
      self->end(false);
    } else {
      self->awaitOtherAgent();
    }
  });
}

void ClipboardSnapshot::readNext() {
  if (restartIfChanged()) return;
  while (item_ < plans_.size()) {
    const ItemPlan& plan = plans_[item_];
    if (type_ < plan.reads.size()) {
      platform::PasteboardReadLimits limits{kSnapshotBudget - total_, delays::kOwnerFirstAnswer,
                                            delays::kOwnerSilence};
      reading_ = true;
      platform_.readPasteboardType(item_, plan.reads[type_], limits,
                                   whenAnswered(&ClipboardSnapshot::typeRead));
      return;
    }
    if (!itemIsWhole(plan, current_.representations.size())) {
      end(false);
      return;
    }
    if (!current_.representations.empty()) contents_.items.push_back(std::move(current_));
    current_ = {};
    ++item_;
    type_ = 0;
  }
  end(true);
}

void ClipboardSnapshot::typeRead(platform::PasteboardTypeRead read) {
  const std::string& type = plans_[item_].reads[type_];
  ++type_;
  if (read.error) {
    if (!leavesSnapshotWhole(*read.error)) {
      end(false);
      return;
    }
  } else {
    total_ += read.bytes.size();
    current_.representations.push_back({type, std::move(read.bytes)});
  }
  readNext();
}

bool ClipboardSnapshot::restartIfChanged() {
  if (platform_.pasteboardChangeCount() == listedCount_) return false;
  // What was read so far belongs to a content that is gone.
  if (restarts_ == kMaxRestarts) {
    end(false);
  } else {
    ++restarts_;
    list();
  }
  return true;
}

void ClipboardSnapshot::end(bool whole) {
  if (over_) return;
  Done done = std::move(done_);
  SavedClipboard saved;
  saved.whole = whole;
  if (whole) saved.contents = std::move(contents_);
  // What was read of a content that cannot be saved is let go before anyone else runs.
  contents_ = {};
  current_ = {};
  cancel();
  if (done) done(std::move(saved));
}

}  // namespace deskagent
