#pragma once

#include <cstddef>
#include <cstdint>

// The few entry points of libei (libei.so.1, its sender side) that the agent uses, looked up when
// the KDE backend starts: one binary then also runs where libei is not installed (Debian 12),
// where that backend is simply not there. Declared here from libei's documented C API.

struct ei;
struct ei_event;
struct ei_seat;
struct ei_device;
struct ei_log_context;

namespace deskagent::platform::kde {

// libei's enum values that the agent uses.
inline constexpr int kEiEventConnect = 1;
inline constexpr int kEiEventDisconnect = 2;
inline constexpr int kEiEventSeatAdded = 3;
inline constexpr int kEiEventDeviceAdded = 5;
inline constexpr int kEiEventDeviceRemoved = 6;
inline constexpr int kEiEventDevicePaused = 7;
inline constexpr int kEiEventDeviceResumed = 8;
inline constexpr int kEiDeviceCapKeyboard = 1 << 2;

struct EiLibrary {
  // Null when libei.so.1 cannot be loaded or lacks one of the entry points.
  static const EiLibrary* load();

  using LogHandler = void (*)(struct ei*, int priority, const char* message,
                              struct ei_log_context*);
  struct ei* (*newSender)(void* userData);
  struct ei* (*unref)(struct ei*);
  void (*logSetHandler)(struct ei*, LogHandler);
  void (*configureName)(struct ei*, const char* name);
  int (*setupBackendFd)(struct ei*, int fd);
  int (*getFd)(struct ei*);
  void (*dispatch)(struct ei*);
  struct ei_event* (*getEvent)(struct ei*);
  std::uint64_t (*now)(struct ei*);
  struct ei_event* (*eventUnref)(struct ei_event*);
  int (*eventGetType)(struct ei_event*);
  struct ei_seat* (*eventGetSeat)(struct ei_event*);
  struct ei_device* (*eventGetDevice)(struct ei_event*);
  bool (*seatHasCapability)(struct ei_seat*, int capability);
  void (*seatBindCapabilities)(struct ei_seat*, ...);
  struct ei_device* (*deviceRef)(struct ei_device*);
  struct ei_device* (*deviceUnref)(struct ei_device*);
  bool (*deviceHasCapability)(struct ei_device*, int capability);
  void (*deviceStartEmulating)(struct ei_device*, std::uint32_t sequence);
  void (*deviceStopEmulating)(struct ei_device*);
  void (*deviceKeyboardKey)(struct ei_device*, std::uint32_t keycode, bool isPress);
  void (*deviceFrame)(struct ei_device*, std::uint64_t time);
};

}  // namespace deskagent::platform::kde
