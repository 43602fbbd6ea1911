#pragma once

#include <memory>
#include <string>
#include <vector>

namespace deskagent::platform::wayland {

// What opening one event device gave.
struct OpenedDevice {
  enum class Kind { keyboard, notKeyboard, unreadable };
  Kind kind = Kind::unreadable;
  int fd = -1;                     // a keyboard's, read-only and non-blocking; the caller owns it
  std::vector<unsigned> heldKeys;  // Linux key codes down when it was opened
  bool capsLocked = false;         // its Caps Lock light when it was opened
};

// Finding and opening the system's keyboards: /dev/input on a real system, pipes in the tests.
class InputDevices {
 public:
  virtual ~InputDevices() = default;
  // The event devices present now, by path.
  virtual std::vector<std::string> present() = 0;
  virtual OpenedDevice open(const std::string& path) = 0;
  // Readable when devices came or went (-1: no such notice, devices are found on a retry only);
  // `drainChanges` empties it.
  virtual int changesFd() const = 0;
  virtual void drainChanges() = 0;
};

// /dev/input/event*, keyboards found by their key capabilities, hot-plug through inotify.
std::unique_ptr<InputDevices> systemInputDevices();

}  // namespace deskagent::platform::wayland
