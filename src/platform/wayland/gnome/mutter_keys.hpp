#pragma once

#include <memory>
#include <optional>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/gnome/mutter_remote_desktop.hpp"
#include "platform/wayland/wayland_chord.hpp"

namespace deskagent::platform::gnome {

// Types through mutter's remote-desktop API, into whatever window has the focus, with no dialog.
// A session is started only for the keys of a transfer, so gnome-shell's indicator shows only
// then: from prepare() (or the first key) to half a second after the chord that follows.
class MutterKeys final : public wayland::KeySink {
 public:
  MutterKeys(MainLoop& loop, dbus::Connection& bus);
  ~MutterKeys() override;
  MutterKeys(const MutterKeys&) = delete;
  MutterKeys& operator=(const MutterKeys&) = delete;

  // Mutter's API is there and has not refused us.
  bool ready() const override;
  void key(std::uint32_t evdevKey, bool down) override;
  void flush() override;

  // A transfer starts: the session is started now, well before its chord, so that a refusal is
  // known before anything is written. False when mutter refuses.
  bool prepare() override;
  // Chords begun so far: a read of a paste's text counts only after one.
  const std::uint64_t& chords() const { return chords_; }
  // Why mutter refused, when it did.
  const std::optional<std::string>& refusal() const { return refusal_; }

 private:
  void refuse(const dbus::CallError& error);
  // Stops the session `delay` from now, unless a transfer starts or a chord ends before.
  void stopAfter(Duration delay);

  MainLoop& loop_;
  dbus::Connection& bus_;
  std::unique_ptr<MutterSession> session_;
  std::optional<std::string> refusal_;
  int held_ = 0;
  std::uint64_t chords_ = 0;
  std::optional<TimerId> idleStop_;
};

}  // namespace deskagent::platform::gnome
