#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/gnome/mutter_remote_desktop.hpp"
#include "platform/wayland/wayland_pipes.hpp"

namespace deskagent::platform::gnome {

// The clipboard through a session of mutter's remote-desktop API that is never started, so
// gnome-shell shows no indicator for it: mutter's API lets a created session use the clipboard
// (EnableClipboard, SelectionRead, SetSelection, and SelectionTransfer answered with
// SelectionWrite and SelectionWriteDone). Kept for the agent's life: what it offers lasts as long
// as the session (when a session goes, mutter keeps only the text/plain;charset=utf-8 it read).
class MutterClipboard {
 public:
  // Null when mutter refuses a session or its clipboard, with `error` saying why.
  static std::unique_ptr<MutterClipboard> create(MainLoop& loop, dbus::Connection& bus,
                                                 dbus::CallError& error);
  ~MutterClipboard();
  MutterClipboard(const MutterClipboard&) = delete;
  MutterClipboard& operator=(const MutterClipboard&) = delete;

  // Moved by every owner change: each of our offers, and each that mutter announces of another.
  std::int64_t changeCount() const { return changeCount_; }
  // The current owner's types, in its order; ours while we own it.
  const std::vector<std::string>& types() const { return types_; }
  bool ours() const { return ours_; }

  // Reads one type of the current owner's, one read at a time (mutter serves no two at once);
  // `done` is called once, on the loop, never before this returns.
  void read(const std::string& type, const PasteboardReadLimits& limits,
            PasteboardTypeCallback done);
  // Handles what mutter has sent so far (a round trip to it): an owner change it has made is
  // known when this returns, and a read it asked for at once has been served.
  void settle();
  // Drops the reads not yet answered: their `done` is never called.
  void cancelReads();
  // Offers `item` as the clipboard; `onTransfer` is told each type a reader asks for, after it
  // has been served. False when mutter refuses (an item of no types it always refuses).
  bool offer(PasteboardItem item, std::function<void(const std::string& type)> onTransfer = {});

 private:
  struct Pending {
    std::string type;
    PasteboardReadLimits limits;
    PasteboardTypeCallback done;
  };
  MutterClipboard(MainLoop& loop, dbus::Connection& bus, std::unique_ptr<MutterSession> session);
  void ownerChanged(sd_bus_message* signal);
  void transfer(sd_bus_message* signal);
  // `first`: a read's first try, whose wait for an answer starts now.
  void readNext(bool first = true);
  void readable();
  void finishRead(PasteboardTypeRead read);
  void endRead();

  MainLoop& loop_;
  dbus::Connection& bus_;
  std::unique_ptr<MutterSession> session_;
  dbus::Slot ownerChanged_;
  dbus::Slot transferAsked_;
  std::int64_t changeCount_ = 0;
  std::vector<std::string> types_;
  bool ours_ = false;
  PasteboardItem offered_;
  std::function<void(const std::string&)> onTransfer_;
  // Our content on its way to readers.
  std::vector<std::unique_ptr<wayland::PipeWrite>> writes_;

  std::deque<Pending> pending_;
  // The read under way: its pipe, what came so far, and its deadline.
  std::optional<Pending> reading_;
  int fd_ = -1;
  std::string bytes_;
  LoopHandle watch_;
  std::optional<TimerId> deadline_;
  std::uint64_t readSerial_ = 0;
  std::chrono::steady_clock::time_point readStarted_;
  std::shared_ptr<MutterClipboard*> self_;
};

}  // namespace deskagent::platform::gnome
