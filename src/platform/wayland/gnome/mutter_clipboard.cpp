#include "platform/wayland/gnome/mutter_clipboard.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>

namespace deskagent::platform::gnome {

namespace {

constexpr auto kPatience = std::chrono::seconds(1);
constexpr auto kBusyRetry = std::chrono::milliseconds(5);

// An options dictionary holding one list of types: {"mime-types": [...]}.
bool appendTypes(sd_bus_message* m, const std::vector<std::string>& types) {
  std::vector<const char*> list;
  for (const auto& type : types) list.push_back(type.c_str());
  list.push_back(nullptr);
  return sd_bus_message_open_container(m, 'a', "{sv}") >= 0 &&
         sd_bus_message_open_container(m, 'e', "sv") >= 0 &&
         sd_bus_message_append(m, "s", "mime-types") >= 0 &&
         sd_bus_message_open_container(m, 'v', "as") >= 0 &&
         sd_bus_message_append_strv(m, const_cast<char**>(list.data())) >= 0 &&
         sd_bus_message_close_container(m) >= 0 && sd_bus_message_close_container(m) >= 0 &&
         sd_bus_message_close_container(m) >= 0;
}

}  // namespace

std::unique_ptr<MutterClipboard> MutterClipboard::create(MainLoop& loop, dbus::Connection& bus,
                                                         dbus::CallError& error) {
  auto session = MutterSession::create(bus, error);
  if (!session) return nullptr;
  std::unique_ptr<MutterClipboard> clipboard(new MutterClipboard(loop, bus, std::move(session)));
  auto enable = clipboard->session_->call("EnableClipboard");
  if (enable) sd_bus_message_append(enable.get(), "a{sv}", 0);
  if (!bus.call(enable, kPatience, &error)) return nullptr;
  return clipboard;
}

MutterClipboard::MutterClipboard(MainLoop& loop, dbus::Connection& bus,
                                 std::unique_ptr<MutterSession> session)
    : loop_(loop),
      bus_(bus),
      session_(std::move(session)),
      self_(std::make_shared<MutterClipboard*>(this)) {
  std::weak_ptr<MutterClipboard*> weak = self_;
  const std::string rule = "type='signal',sender='" + std::string(kRemoteDesktopService) +
                           "',path='" + session_->path() + "',interface='" + kSessionInterface +
                           "',member=";
  ownerChanged_ = bus_.match(rule + "'SelectionOwnerChanged'", [weak](sd_bus_message* m) {
    if (auto self = weak.lock()) (*self)->ownerChanged(m);
  });
  transferAsked_ = bus_.match(rule + "'SelectionTransfer'", [weak](sd_bus_message* m) {
    if (auto self = weak.lock()) (*self)->transfer(m);
  });
}

MutterClipboard::~MutterClipboard() {
  cancelReads();
}

void MutterClipboard::ownerChanged(sd_bus_message* signal) {
  std::vector<std::string> types;
  bool ours = false;
  if (sd_bus_message_enter_container(signal, 'a', "{sv}") <= 0) return;
  while (sd_bus_message_enter_container(signal, 'e', "sv") > 0) {
    const char* key = nullptr;
    sd_bus_message_read(signal, "s", &key);
    const std::string name = key != nullptr ? key : "";
    const char* contents = nullptr;
    if (name == "mime-types" && sd_bus_message_peek_type(signal, nullptr, &contents) > 0 &&
        contents != nullptr && sd_bus_message_enter_container(signal, 'v', contents) > 0) {
      // Mutter sends the list inside a struct, "(as)", where its interface says "as".
      const bool wrapped = std::string_view(contents) == "(as)";
      if (wrapped) sd_bus_message_enter_container(signal, 'r', "as");
      char** list = nullptr;
      if (sd_bus_message_read_strv(signal, &list) >= 0 && list != nullptr) {
        for (char** t = list; *t != nullptr; ++t) {
          types.emplace_back(*t);
          std::free(*t);
        }
        std::free(list);
      }
      if (wrapped) sd_bus_message_exit_container(signal);
      sd_bus_message_exit_container(signal);
    } else if (name == "session-is-owner") {
      int owner = 0;
      sd_bus_message_read(signal, "v", "b", &owner);
      ours = owner != 0;
    } else {
      sd_bus_message_skip(signal, "v");
    }
    sd_bus_message_exit_container(signal);
  }
  // Our own offer was counted when made; its announcement, which may come later, is not a change.
  if (!ours) ++changeCount_;
  types_ = std::move(types);
  ours_ = ours;
  if (!ours_) {
    offered_ = {};
    onTransfer_ = {};
  }
}

void MutterClipboard::transfer(sd_bus_message* signal) {
  const char* asked = nullptr;
  std::uint32_t serial = 0;
  if (sd_bus_message_read(signal, "su", &asked, &serial) < 0 || asked == nullptr) return;
  const std::string type = asked;
  const Bytes* bytes = nullptr;
  for (const auto& rep : offered_.representations) {
    if (rep.type == type) bytes = &rep.data;
  }
  auto done = [this, serial](bool success) {
    auto call = session_->call("SelectionWriteDone");
    if (call && sd_bus_message_append(call.get(), "ub", serial, success ? 1 : 0) >= 0) {
      bus_.send(call);
    }
  };
  if (bytes == nullptr) {
    done(false);
    return;
  }
  // The reply gives the pipe to write to; what is written is what the reader gets.
  auto write = session_->call("SelectionWrite");
  if (!write || sd_bus_message_append(write.get(), "u", serial) < 0) return;
  dbus::CallError error;
  auto reply = bus_.call(write, kPatience, &error);
  int fd = -1;
  if (!reply || sd_bus_message_read(reply.get(), "h", &fd) < 0) {
    done(false);
    return;
  }
  // The descriptor is the reply's: ours is a copy, written as the reader takes it.
  fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    done(false);
    return;
  }
  std::erase_if(writes_, [](const auto& w) { return w->finished(); });
  writes_.push_back(std::make_unique<wayland::PipeWrite>(loop_, fd, *bytes, done));
  if (onTransfer_) onTransfer_(type);
}

bool MutterClipboard::offer(PasteboardItem item,
                            std::function<void(const std::string&)> onTransfer) {
  std::vector<std::string> types;
  for (const auto& rep : item.representations) {
    if (std::find(types.begin(), types.end(), rep.type) == types.end()) types.push_back(rep.type);
  }
  if (types.empty()) return false;
  auto set = session_->call("SetSelection");
  if (!set || !appendTypes(set.get(), types)) return false;
  // In place before mutter asks for any of it.
  auto previous = std::exchange(offered_, std::move(item));
  auto previousTransfer = std::exchange(onTransfer_, std::move(onTransfer));
  if (!bus_.call(set, kPatience)) {
    offered_ = std::move(previous);
    onTransfer_ = std::move(previousTransfer);
    return false;
  }
  ours_ = true;
  types_ = std::move(types);
  ++changeCount_;
  settle();
  return true;
}

void MutterClipboard::settle() {
  // After an offer: mutter's clipboard manager reads the text the moment the owner changes, and
  // its ask is served here, before the caller's next step (a paste's chord), so that it is not
  // taken for the target's.
  auto ping = bus_.methodCall(kRemoteDesktopService, kRemoteDesktopPath,
                              "org.freedesktop.DBus.Peer", "Ping");
  auto answered = std::make_shared<bool>(false);
  bus_.callAsync(ping, kPatience, [answered](sd_bus_message*) { *answered = true; });
  bus_.serveUntil([answered] { return *answered; }, kPatience);
}

void MutterClipboard::read(const std::string& type, const PasteboardReadLimits& limits,
                           PasteboardTypeCallback done) {
  pending_.push_back({type, limits, std::move(done)});
  if (!reading_) {
    std::weak_ptr<MutterClipboard*> weak = self_;
    loop_.post([weak] {
      if (auto self = weak.lock(); self && !(*self)->reading_) (*self)->readNext();
    });
  }
}

void MutterClipboard::cancelReads() {
  pending_.clear();
  endRead();
}

void MutterClipboard::endRead() {
  reading_.reset();
  watch_.reset();
  if (deadline_) loop_.cancel(*deadline_);
  deadline_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  bytes_.clear();
  ++readSerial_;  // what the read had under way is no longer heard
}

void MutterClipboard::readNext(bool first) {
  if (pending_.empty()) return;
  reading_ = std::move(pending_.front());
  pending_.pop_front();
  if (first) readStarted_ = std::chrono::steady_clock::now();
  if (ours_) {
    // Mutter does not let a session read its own selection: we have it here.
    for (const auto& rep : offered_.representations) {
      if (rep.type == reading_->type) return finishRead({rep.data, std::nullopt});
    }
    return finishRead({{}, PasteboardReadError::refused});
  }
  auto call = session_->call("SelectionRead");
  if (!call || sd_bus_message_append(call.get(), "s", reading_->type.c_str()) < 0) {
    return finishRead({{}, PasteboardReadError::failed});
  }
  std::weak_ptr<MutterClipboard*> weak = self_;
  const std::uint64_t serial = ++readSerial_;
  bus_.callAsync(call, reading_->limits.firstAnswer, [weak, serial](sd_bus_message* reply) {
    auto self = weak.lock();
    if (!self || (*self)->readSerial_ != serial || !(*self)->reading_) return;
    MutterClipboard& c = **self;
    if (auto error = dbus::errorOf(reply)) {
      // Mutter finishes a read a moment after its pipe has ended, and refuses the next one
      // until then: asked again shortly, within the same wait for a first answer.
      if (error->name == "org.freedesktop.DBus.Error.LimitsExceeded" &&
          std::chrono::steady_clock::now() < c.readStarted_ + c.reading_->limits.firstAnswer) {
        c.pending_.push_front(std::move(*c.reading_));
        c.reading_.reset();
        c.deadline_ = c.loop_.postDelayed(kBusyRetry, [weak] {
          if (auto s = weak.lock()) {
            (*s)->deadline_.reset();
            if (!(*s)->reading_) (*s)->readNext(false);
          }
        });
        return;
      }
      // No owner, or an owner that has no such type: nothing there to lose.
      const bool none = error->name == "org.freedesktop.DBus.Error.FileNotFound";
      const bool late = error->name == "org.freedesktop.DBus.Error.Timeout" ||
                        error->name == "org.freedesktop.DBus.Error.NoReply";
      return c.finishRead({{},
                           none   ? PasteboardReadError::refused
                           : late ? PasteboardReadError::timedOut
                                  : PasteboardReadError::failed});
    }
    int fd = -1;
    if (sd_bus_message_read(reply, "h", &fd) < 0 || (c.fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) {
      return c.finishRead({{}, PasteboardReadError::failed});
    }
    ::fcntl(c.fd_, F_SETFL, ::fcntl(c.fd_, F_GETFL) | O_NONBLOCK);
    c.watch_ = c.loop_.watchReadable(c.fd_, [weak, serial] {
      if (auto s = weak.lock(); s && (*s)->readSerial_ == serial) (*s)->readable();
    });
    c.deadline_ = c.loop_.postDelayed(c.reading_->limits.firstAnswer, [weak, serial] {
      if (auto s = weak.lock(); s && (*s)->readSerial_ == serial) {
        (*s)->deadline_.reset();
        (*s)->finishRead({{}, PasteboardReadError::timedOut});
      }
    });
  });
}

void MutterClipboard::readable() {
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      bytes_.append(chunk, static_cast<std::size_t>(n));
      if (bytes_.size() > reading_->limits.maxBytes) {
        return finishRead({{}, PasteboardReadError::overBudget});
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n < 0) return finishRead({{}, PasteboardReadError::failed});
    return finishRead({std::exchange(bytes_, {}), std::nullopt});  // the end: all of it
  }
  // Something came: the owner now has `silence` for the next part.
  if (deadline_) loop_.cancel(*deadline_);
  std::weak_ptr<MutterClipboard*> weak = self_;
  const std::uint64_t serial = readSerial_;
  deadline_ = loop_.postDelayed(reading_->limits.silence, [weak, serial] {
    if (auto s = weak.lock(); s && (*s)->readSerial_ == serial) {
      (*s)->deadline_.reset();
      (*s)->finishRead({{}, PasteboardReadError::timedOut});
    }
  });
}

void MutterClipboard::finishRead(PasteboardTypeRead read) {
  auto done = std::move(reading_->done);
  endRead();
  done(std::move(read));
  if (!reading_) readNext();
}

}  // namespace deskagent::platform::gnome
