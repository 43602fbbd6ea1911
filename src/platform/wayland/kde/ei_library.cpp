#include "platform/wayland/kde/ei_library.hpp"

#include <dlfcn.h>

namespace deskagent::platform::kde {

namespace {

template <class Function>
bool find(void* handle, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(handle, name));
  return function != nullptr;
}

EiLibrary* loadOnce() {
  void* handle = ::dlopen("libei.so.1", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  static EiLibrary library;
  EiLibrary& l = library;
  bool all = find(handle, "ei_new_sender", l.newSender) && find(handle, "ei_unref", l.unref) &&
             find(handle, "ei_log_set_handler", l.logSetHandler) &&
             find(handle, "ei_configure_name", l.configureName) &&
             find(handle, "ei_setup_backend_fd", l.setupBackendFd) &&
             find(handle, "ei_get_fd", l.getFd) && find(handle, "ei_dispatch", l.dispatch) &&
             find(handle, "ei_get_event", l.getEvent) && find(handle, "ei_now", l.now) &&
             find(handle, "ei_event_unref", l.eventUnref) &&
             find(handle, "ei_event_get_type", l.eventGetType) &&
             find(handle, "ei_event_get_seat", l.eventGetSeat) &&
             find(handle, "ei_event_get_device", l.eventGetDevice) &&
             find(handle, "ei_seat_has_capability", l.seatHasCapability) &&
             find(handle, "ei_seat_bind_capabilities", l.seatBindCapabilities) &&
             find(handle, "ei_device_ref", l.deviceRef) &&
             find(handle, "ei_device_unref", l.deviceUnref) &&
             find(handle, "ei_device_has_capability", l.deviceHasCapability) &&
             find(handle, "ei_device_start_emulating", l.deviceStartEmulating) &&
             find(handle, "ei_device_stop_emulating", l.deviceStopEmulating) &&
             find(handle, "ei_device_keyboard_key", l.deviceKeyboardKey) &&
             find(handle, "ei_device_frame", l.deviceFrame);
  if (!all) {
    ::dlclose(handle);
    return nullptr;
  }
  return &library;  // kept loaded for the life of the process
}

}  // namespace

const EiLibrary* EiLibrary::load() {
  static const EiLibrary* library = loadOnce();
  return library;
}

}  // namespace deskagent::platform::kde
