#pragma once

// Every delay of the protocol, in one table: what hosts and users may rely on is documented in
// the README against these, and the ones that bound each other sit side by side.

#include <chrono>

#include "loop/clock.hpp"

namespace deskagent::delays {

using std::chrono::milliseconds;

// --- The key watch ---
inline constexpr Duration kTapRetry = milliseconds(2000);     // a refused tap is tried again
inline constexpr Duration kAccessWatch = milliseconds(1500);  // permissions looked at again

// --- A paste ---
// The user's clipboard comes back no earlier than this after the chord...
inline constexpr Duration kPasteboardRestore = milliseconds(250);
// ...and, where the platform tells when the target reads the text, no later than this without
// a read: a target that has not read by then is taken never to read.
inline constexpr Duration kLatestRestore = milliseconds(2000);
// One read is not the sign that the target has what it pastes: GTK (mousepad, Firefox) reads the
// text twice within 4 ms and Chromium within 31 ms (measured on a loaded machine, each target
// stopped for 0.6 s while the chord arrived), and the last read is the one pasted. The restore
// waits until the reads have stopped for this long (and still comes by kLatestRestore).
inline constexpr Duration kReadSettle = milliseconds(200);
// A clipboard manager's copy of the dictated text may land after the user's clipboard is back
// (clipman's came up to 0.3 s after the restore, 1 MiB at a load of 11 on 2 cores): undone for
// this long after the restore, which a user's own copy of the very text just pasted rarely beats,
// looking this often.
inline constexpr Duration kRecopyGuard = milliseconds(2000);
inline constexpr Duration kRecopyPoll = milliseconds(50);

// --- A selection read ---
// The answer is given once the copy has landed, and at the latest this long after the chord.
inline constexpr Duration kSelectionCopy = milliseconds(160);
// Applications often clear the clipboard and write it in separate steps: a change count that
// has not moved for this long is taken as the finished copy.
inline constexpr Duration kCopySettle = milliseconds(20);
// How often the change count is looked at while a copy is awaited.
inline constexpr Duration kCopyPoll = milliseconds(10);
// How long after the chord a copy that came too late for the answer is still undone.
inline constexpr Duration kLateCopyWindow = milliseconds(1000);

// --- Saving the user's clipboard ---
// An owner gets this long to start answering for one type: encoding a large image takes a
// toolkit seconds on a busy machine, and nothing else waits on it meanwhile. Measured on X11
// (bench/RESULTS.md): a 3840x2160 image as image/png took Qt up to 4.7 s and GTK up to 7.5 s on a
// machine at a load of 11 on 2 cores (1.1 and 1.3 to 2.5 s at lighter load).
inline constexpr Duration kOwnerFirstAnswer = milliseconds(8000);
// An owner that has started sending and then sends nothing more for this long has stopped.
inline constexpr Duration kOwnerSilence = milliseconds(1000);
// The whole snapshot, however many types, gives up after this: the command is refused. Once the
// host has ended the agent's input, a snapshot gets the shorter time, so the agent's exit is
// never held up long by an owner that does not answer.
inline constexpr Duration kSnapshotCeiling = milliseconds(10000);
inline constexpr Duration kSnapshotCeilingWhileEnding = milliseconds(500);
// Another agent's dictated text on the clipboard: its restore comes within its own latest
// restore of its chord; waited for this long at most, looking this often.
inline constexpr Duration kOtherAgentWait = kLatestRestore + milliseconds(500);
inline constexpr Duration kOtherAgentPoll = milliseconds(50);
// A restore that ran out of memory is tried again this often, this many times.
inline constexpr Duration kRestoreRetry = milliseconds(250);
inline constexpr int kRestoreAttempts = 4;

static_assert(kPasteboardRestore <= kLatestRestore && kReadSettle < kLatestRestore);
static_assert(kCopySettle < kSelectionCopy && kSelectionCopy < kLateCopyWindow);
static_assert(kOwnerSilence <= kOwnerFirstAnswer && kOwnerFirstAnswer < kSnapshotCeiling);

}  // namespace deskagent::delays
