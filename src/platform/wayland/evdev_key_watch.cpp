#include "platform/wayland/evdev_key_watch.hpp"

#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/modifier_keys.hpp"

namespace deskagent::platform::wayland {

std::optional<std::int64_t> macKeyCodeOfLinuxKey(unsigned linuxKey) {
  switch (linuxKey) {
    case KEY_LEFTSHIFT:
      return kMacLeftShift;
    case KEY_RIGHTSHIFT:
      return kMacRightShift;
    case KEY_LEFTCTRL:
      return kMacLeftControl;
    case KEY_RIGHTCTRL:
      return kMacRightControl;
    case KEY_LEFTALT:
      return kMacLeftOption;
    case KEY_RIGHTALT:
      return kMacRightOption;
    case KEY_LEFTMETA:
      return kMacLeftCommand;
    case KEY_RIGHTMETA:
      return kMacRightCommand;
    case KEY_CAPSLOCK:
      return kMacCapsLock;
    case KEY_FN:
      return kMacFn;
    default:
      return std::nullopt;
  }
}

EvdevKeyWatch::EvdevKeyWatch(MainLoop& loop, std::unique_ptr<InputDevices> devices, Deliver deliver)
    : loop_(loop), devices_(std::move(devices)), deliver_(std::move(deliver)) {
  if (devices_->changesFd() >= 0) {
    changesWatch_ = loop_.watchReadable(devices_->changesFd(), [this] { onDevicesChanged(); });
  }
  rescan();
}

EvdevKeyWatch::~EvdevKeyWatch() {
  for (auto& [path, keyboard] : keyboards_) {
    keyboard.watch.reset();
    ::close(keyboard.fd);
  }
}

bool EvdevKeyWatch::rescan() {
  for (const std::string& path : devices_->present()) {
    if (keyboards_.count(path) != 0) continue;
    OpenedDevice opened = devices_->open(path);
    if (opened.kind != OpenedDevice::Kind::keyboard) continue;
    Keyboard& keyboard = keyboards_[path];
    keyboard.fd = opened.fd;
    for (unsigned key : opened.heldKeys) {
      if (auto mac = macKeyCodeOfLinuxKey(key)) keyboard.held.insert(*mac);
    }
    capsLocked_ = capsLocked_ || opened.capsLocked;
    keyboard.watch = loop_.watchReadable(keyboard.fd, [this, path] { readFrom(path); });
  }
  return canListen();
}

void EvdevKeyWatch::setListening(bool on) {
  listening_ = on;
}

void EvdevKeyWatch::onDevicesChanged() {
  devices_->drainChanges();
  // A removed node shows itself on the next read of its fd (ENODEV); new ones are opened here.
  rescan();
}

void EvdevKeyWatch::readFrom(const std::string& path) {
  auto it = keyboards_.find(path);
  if (it == keyboards_.end()) return;
  Keyboard& keyboard = it->second;
  char buffer[sizeof(input_event) * 64];
  ssize_t n = ::read(keyboard.fd, buffer, sizeof(buffer));
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {  // unplugged (ENODEV) or closed
    drop(path);
    rescan();  // a keyboard plugged in at once may have taken the same node
    return;
  }
  keyboard.partial.append(buffer, static_cast<std::size_t>(n));
  std::size_t whole = keyboard.partial.size() / sizeof(input_event) * sizeof(input_event);
  if (whole == 0) return;  // not one whole record yet
  // Records are copied out before any is handled: a delivery may end up dropping this keyboard.
  std::vector<input_event> events(whole / sizeof(input_event));
  std::memcpy(events.data(), keyboard.partial.data(), whole);
  keyboard.partial.erase(0, whole);
  for (const input_event& event : events) {
    auto again = keyboards_.find(path);
    if (again == keyboards_.end()) return;
    if (event.type == EV_KEY) handleKey(again->second, event.code, event.value);
  }
}

void EvdevKeyWatch::handleKey(Keyboard& keyboard, unsigned linuxKey, std::int32_t value) {
  if (value != 0 && value != 1) return;  // 2 is the key's autorepeat
  auto mac = macKeyCodeOfLinuxKey(linuxKey);
  if (!mac) return;
  const bool down = value == 1;
  if ((keyboard.held.count(*mac) != 0) == down) return;  // nothing changed for this key
  const bool wasHeld = heldAnywhere(*mac);
  if (down) {
    keyboard.held.insert(*mac);
  } else {
    keyboard.held.erase(*mac);
  }
  // Each press toggles the lock, whichever keyboard it came from.
  const bool capsPress = *mac == kMacCapsLock && down;
  if (capsPress) capsLocked_ = !capsLocked_;
  // A key another keyboard holds too went neither down nor up for the desktop.
  if (listening_ && (heldAnywhere(*mac) != wasHeld || capsPress)) {
    deliver_(KeyboardEvent{*mac, currentFlags()});
  }
}

bool EvdevKeyWatch::heldAnywhere(std::int64_t mac) const {
  for (const auto& [path, keyboard] : keyboards_) {
    if (keyboard.held.count(mac) != 0) return true;
  }
  return false;
}

void EvdevKeyWatch::drop(const std::string& path) {
  auto it = keyboards_.find(path);
  if (it == keyboards_.end()) return;
  std::set<std::int64_t> released = std::move(it->second.held);
  it->second.watch.reset();
  ::close(it->second.fd);
  keyboards_.erase(it);
  // Keys down on a keyboard that is gone are up now, unless another keyboard holds them too.
  for (std::int64_t mac : released) {
    if (!heldAnywhere(mac) && listening_) deliver_(KeyboardEvent{mac, currentFlags()});
  }
}

std::uint64_t EvdevKeyWatch::currentFlags() const {
  HeldModifiers held;
  for (const auto& [path, keyboard] : keyboards_) {
    for (std::int64_t mac : keyboard.held) held.set(mac, true);
  }
  return modifierFlags(held, capsLocked_);
}

}  // namespace deskagent::platform::wayland
