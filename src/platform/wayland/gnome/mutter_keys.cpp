#include "platform/wayland/gnome/mutter_keys.hpp"

#include <chrono>

namespace deskagent::platform::gnome {

namespace {

// A transfer that began and sent no chord (its clipboard could not be saved, say) ends its
// session after this, so the indicator does not stay.
constexpr auto kUnusedSession = std::chrono::seconds(6);
// After a chord the session stays this long: mutter hands the keys on to the focused window on
// later turns of its own loop, and a session closed at once takes its keyboard away under them.
// A paste that follows within it reuses the session, so the indicator does not flicker.
constexpr auto kAfterChord = std::chrono::milliseconds(500);

}  // namespace

MutterKeys::MutterKeys(MainLoop& loop, dbus::Connection& bus) : loop_(loop), bus_(bus) {}

MutterKeys::~MutterKeys() {
  if (idleStop_) loop_.cancel(*idleStop_);
}

bool MutterKeys::ready() const {
  return !refusal_ && bus_.open();
}

void MutterKeys::refuse(const dbus::CallError& error) {
  refusal_ = "mutter's remote-desktop API refused us (" + error.describe() + ")";
  session_.reset();
}

void MutterKeys::stopAfter(Duration delay) {
  if (idleStop_) loop_.cancel(*idleStop_);
  idleStop_ = loop_.postDelayed(delay, [this] {
    idleStop_.reset();
    if (held_ == 0) session_.reset();
  });
}

bool MutterKeys::prepare() {
  stopAfter(kUnusedSession);
  if (session_ && session_->started()) return true;
  dbus::CallError error;
  session_ = MutterSession::create(bus_, error);
  if (!session_ || !session_->start(error)) {
    refuse(error);
    return false;
  }
  session_->onRefused([this](const dbus::CallError& refused) { refuse(refused); });
  return true;
}

void MutterKeys::key(std::uint32_t evdevKey, bool down) {
  if (!(session_ && session_->started()) && !prepare()) return;
  if (down && held_ == 0) ++chords_;
  session_->key(evdevKey, down);
  held_ += down ? 1 : -1;
}

void MutterKeys::flush() {
  // The chord is over: so is the session, and with it the indicator, a moment later.
  if (held_ <= 0) {
    held_ = 0;
    stopAfter(kAfterChord);
  }
}

}  // namespace deskagent::platform::gnome
