#pragma once

#include <memory>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/kde/ei_library.hpp"
#include "platform/wayland/wayland_chord.hpp"

namespace deskagent::platform::kde {

// A keyboard of ours in KWin, through its EIS (org.kde.KWin.EIS.RemoteDesktop.connectToEIS) and
// libei: what KWin offers an ordinary client for typing, with no dialog. Made once and kept, as a
// physical keyboard would be; KWin drops it when we leave.
class EisKeyboard final : public wayland::KeySink {
 public:
  // Null when KWin's interface, libei or the keyboard cannot be had; `why` then says which.
  static std::unique_ptr<EisKeyboard> connect(MainLoop& loop, dbus::Connection& bus,
                                              std::string& why);
  ~EisKeyboard() override;
  EisKeyboard(const EisKeyboard&) = delete;
  EisKeyboard& operator=(const EisKeyboard&) = delete;

  // KWin has resumed the keyboard and not taken it away since.
  bool ready() const override { return device_ != nullptr && resumed_; }
  void key(std::uint32_t evdevKey, bool down) override;
  void flush() override;

 private:
  EisKeyboard(const EiLibrary& ei, struct ei* context) : ei_(ei), context_(context) {}
  // Handles what KWin has sent; false once it has ended the connection.
  bool serve();

  const EiLibrary& ei_;
  struct ei* context_;
  struct ei_device* device_ = nullptr;
  bool resumed_ = false;
  bool emulating_ = false;
  int held_ = 0;  // keys pressed and not yet released
  std::uint32_t sequence_ = 0;
  LoopHandle watch_;
};

}  // namespace deskagent::platform::kde
