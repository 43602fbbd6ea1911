#include "platform/wayland/kde/eis_keyboard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

namespace deskagent::platform::kde {

namespace {

constexpr int kKeyboardCapability = 1;  // connectToEIS's capabilities, as the portal numbers them
// KWin answers the handshake within milliseconds; a KWin that does not is not one to type into.
constexpr auto kHandshake = std::chrono::milliseconds(1000);

// libei writes its warnings to stderr unless told otherwise; the agent writes nothing there.
void quiet(struct ei*, int, const char*, struct ei_log_context*) {}

}  // namespace

std::unique_ptr<EisKeyboard> EisKeyboard::connect(MainLoop& loop, dbus::Connection& bus,
                                                  std::string& why) {
  const EiLibrary* ei = EiLibrary::load();
  if (ei == nullptr) {
    why = "libei (libei.so.1) is not installed";
    return nullptr;
  }
  auto call = bus.methodCall("org.kde.KWin", "/org/kde/KWin/EIS/RemoteDesktop",
                             "org.kde.KWin.EIS.RemoteDesktop", "connectToEIS");
  if (call) sd_bus_message_append(call.get(), "i", kKeyboardCapability);
  dbus::CallError error;
  auto reply = bus.call(call, std::chrono::seconds(2), &error);
  int fd = -1;
  int cookie = 0;
  if (!reply || sd_bus_message_read(reply.get(), "hi", &fd, &cookie) < 0) {
    why = "KWin's connectToEIS: " + (reply ? "unexpected reply" : error.describe());
    return nullptr;
  }
  // The descriptor belongs to the reply; libei takes one of its own.
  fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  struct ei* context = ei->newSender(nullptr);
  if (fd < 0 || context == nullptr) {
    if (fd >= 0) ::close(fd);
    if (context != nullptr) ei->unref(context);
    why = "libei could not be set up";
    return nullptr;
  }
  ei->logSetHandler(context, &quiet);
  ei->configureName(context, "deskagent");
  std::unique_ptr<EisKeyboard> keyboard(new EisKeyboard(*ei, context));
  if (ei->setupBackendFd(context, fd) != 0) {
    why = "libei refused KWin's EIS socket";
    return nullptr;
  }
  // The handshake, waited for here so that the first report already says whether we can type.
  const auto until = std::chrono::steady_clock::now() + kHandshake;
  while (!keyboard->ready()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    pollfd p{ei->getFd(context), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
        !keyboard->serve()) {
      why = "KWin's EIS gave no keyboard";
      return nullptr;
    }
  }
  EisKeyboard* self = keyboard.get();
  keyboard->watch_ = loop.watchReadable(ei->getFd(context), [self] {
    if (!self->serve()) self->watch_.reset();  // its socket would stay readable for good
  });
  return keyboard;
}

EisKeyboard::~EisKeyboard() {
  watch_.reset();
  if (device_ != nullptr) ei_.deviceUnref(device_);
  ei_.unref(context_);
}

bool EisKeyboard::serve() {
  ei_.dispatch(context_);
  bool connected = true;
  while (struct ei_event* event = ei_.getEvent(context_)) {
    struct ei_device* device = ei_.eventGetDevice(event);
    switch (ei_.eventGetType(event)) {
      case kEiEventSeatAdded:
        if (ei_.seatHasCapability(ei_.eventGetSeat(event), kEiDeviceCapKeyboard)) {
          ei_.seatBindCapabilities(ei_.eventGetSeat(event), kEiDeviceCapKeyboard, nullptr);
        }
        break;
      case kEiEventDeviceAdded:
        if (device_ == nullptr && ei_.deviceHasCapability(device, kEiDeviceCapKeyboard)) {
          device_ = ei_.deviceRef(device);
        }
        break;
      case kEiEventDeviceResumed:
        if (device == device_) resumed_ = true;
        break;
      case kEiEventDevicePaused:
        if (device == device_) resumed_ = false;
        break;
      case kEiEventDeviceRemoved:
        if (device == device_) {
          ei_.deviceUnref(device_);
          device_ = nullptr;
          resumed_ = emulating_ = false;
        }
        break;
      case kEiEventDisconnect:
        connected = false;
        resumed_ = false;
        break;
      default:
        break;
    }
    ei_.eventUnref(event);
  }
  return connected;
}

void EisKeyboard::key(std::uint32_t evdevKey, bool down) {
  if (!ready()) return;
  if (!emulating_) {
    ei_.deviceStartEmulating(device_, ++sequence_);
    emulating_ = true;
  }
  ei_.deviceKeyboardKey(device_, evdevKey, down);
  ei_.deviceFrame(device_, ei_.now(context_));
  held_ += down ? 1 : -1;
}

void EisKeyboard::flush() {
  if (emulating_ && held_ <= 0 && device_ != nullptr) {
    ei_.deviceStopEmulating(device_);
    emulating_ = false;
    held_ = 0;
  }
  ei_.dispatch(context_);
}

}  // namespace deskagent::platform::kde
