// The sd-bus functions the agent calls, each handed on to libsystemd.so.0, loaded on the first
// call. Where it cannot be loaded (or lacks a function), a call fails as sd-bus fails: -ENOSYS,
// or null, or false; opening a bus fails first, so nothing else is reached.

#include "platform/linux/dbus/sd_bus_library.hpp"

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdarg>

namespace deskagent::platform::dbus {
namespace {

void* library() {
  static void* const handle = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  return handle;  // kept loaded for the life of the process
}

template <class Function>
Function* find(const char* name) {
  void* handle = library();
  return handle != nullptr ? reinterpret_cast<Function*>(::dlsym(handle, name)) : nullptr;
}

}  // namespace

bool sdBusAvailable() {
  return library() != nullptr;
}

}  // namespace deskagent::platform::dbus

// Returns what libsystemd's `name` returns for the arguments, or `missing` without it.
#define DESKAGENT_SD_BUS(name, missing, ...)                                          \
  static auto* const real = deskagent::platform::dbus::find<decltype(::name)>(#name); \
  return real != nullptr ? real(__VA_ARGS__) : (missing)

// The same for a function taking variable arguments, through its va_list form `listName`.
#define DESKAGENT_SD_BUS_LIST(listName, last, ...)                                            \
  static auto* const real = deskagent::platform::dbus::find<decltype(::listName)>(#listName); \
  if (real == nullptr) return -ENOSYS;                                                        \
  va_list arguments;                                                                          \
  va_start(arguments, last);                                                                  \
  int result = real(__VA_ARGS__, arguments);                                                  \
  va_end(arguments);                                                                          \
  return result

extern "C" {

// --- The bus

int sd_bus_open_user(sd_bus** bus) {
  DESKAGENT_SD_BUS(sd_bus_open_user, -ENOSYS, bus);
}
int sd_bus_new(sd_bus** bus) {
  DESKAGENT_SD_BUS(sd_bus_new, -ENOSYS, bus);
}
int sd_bus_set_address(sd_bus* bus, const char* address) {
  DESKAGENT_SD_BUS(sd_bus_set_address, -ENOSYS, bus, address);
}
int sd_bus_set_bus_client(sd_bus* bus, int b) {
  DESKAGENT_SD_BUS(sd_bus_set_bus_client, -ENOSYS, bus, b);
}
int sd_bus_start(sd_bus* bus) {
  DESKAGENT_SD_BUS(sd_bus_start, -ENOSYS, bus);
}
int sd_bus_is_open(sd_bus* bus) {
  DESKAGENT_SD_BUS(sd_bus_is_open, 0, bus);
}
int sd_bus_get_unique_name(sd_bus* bus, const char** unique) {
  DESKAGENT_SD_BUS(sd_bus_get_unique_name, -ENOSYS, bus, unique);
}
int sd_bus_get_fd(sd_bus* bus) {
  DESKAGENT_SD_BUS(sd_bus_get_fd, -ENOSYS, bus);
}
int sd_bus_get_timeout(sd_bus* bus, uint64_t* timeout_usec) {
  DESKAGENT_SD_BUS(sd_bus_get_timeout, -ENOSYS, bus, timeout_usec);
}
int sd_bus_process(sd_bus* bus, sd_bus_message** r) {
  DESKAGENT_SD_BUS(sd_bus_process, -ENOSYS, bus, r);
}
int sd_bus_wait(sd_bus* bus, uint64_t timeout_usec) {
  DESKAGENT_SD_BUS(sd_bus_wait, -ENOSYS, bus, timeout_usec);
}
int sd_bus_flush(sd_bus* bus) {
  DESKAGENT_SD_BUS(sd_bus_flush, -ENOSYS, bus);
}
sd_bus* sd_bus_unref(sd_bus* bus) {
  DESKAGENT_SD_BUS(sd_bus_unref, nullptr, bus);
}
sd_bus* sd_bus_flush_close_unref(sd_bus* bus) {
  DESKAGENT_SD_BUS(sd_bus_flush_close_unref, nullptr, bus);
}

// --- Calls, replies, matches and objects

int sd_bus_call(sd_bus* bus, sd_bus_message* m, uint64_t usec, sd_bus_error* ret_error,
                sd_bus_message** reply) {
  DESKAGENT_SD_BUS(sd_bus_call, -ENOSYS, bus, m, usec, ret_error, reply);
}
int sd_bus_call_async(sd_bus* bus, sd_bus_slot** slot, sd_bus_message* m,
                      sd_bus_message_handler_t callback, void* userdata, uint64_t usec) {
  DESKAGENT_SD_BUS(sd_bus_call_async, -ENOSYS, bus, slot, m, callback, userdata, usec);
}
int sd_bus_send(sd_bus* bus, sd_bus_message* m, uint64_t* cookie) {
  DESKAGENT_SD_BUS(sd_bus_send, -ENOSYS, bus, m, cookie);
}
int sd_bus_reply_method_return(sd_bus_message* call, const char* types, ...) {
  DESKAGENT_SD_BUS_LIST(sd_bus_reply_method_returnv, types, call, types);
}
int sd_bus_add_match(sd_bus* bus, sd_bus_slot** slot, const char* match,
                     sd_bus_message_handler_t callback, void* userdata) {
  DESKAGENT_SD_BUS(sd_bus_add_match, -ENOSYS, bus, slot, match, callback, userdata);
}
int sd_bus_add_object(sd_bus* bus, sd_bus_slot** slot, const char* path,
                      sd_bus_message_handler_t callback, void* userdata) {
  DESKAGENT_SD_BUS(sd_bus_add_object, -ENOSYS, bus, slot, path, callback, userdata);
}
int sd_bus_slot_set_destroy_callback(sd_bus_slot* s, sd_bus_destroy_t callback) {
  DESKAGENT_SD_BUS(sd_bus_slot_set_destroy_callback, -ENOSYS, s, callback);
}
int sd_bus_slot_set_floating(sd_bus_slot* slot, int b) {
  DESKAGENT_SD_BUS(sd_bus_slot_set_floating, -ENOSYS, slot, b);
}
sd_bus_slot* sd_bus_slot_unref(sd_bus_slot* slot) {
  DESKAGENT_SD_BUS(sd_bus_slot_unref, nullptr, slot);
}

// --- Messages

int sd_bus_message_new_method_call(sd_bus* bus, sd_bus_message** m, const char* destination,
                                   const char* path, const char* interface, const char* member) {
  DESKAGENT_SD_BUS(sd_bus_message_new_method_call, -ENOSYS, bus, m, destination, path, interface,
                   member);
}
int sd_bus_message_set_expect_reply(sd_bus_message* m, int b) {
  DESKAGENT_SD_BUS(sd_bus_message_set_expect_reply, -ENOSYS, m, b);
}
sd_bus_message* sd_bus_message_unref(sd_bus_message* m) {
  DESKAGENT_SD_BUS(sd_bus_message_unref, nullptr, m);
}
const sd_bus_error* sd_bus_message_get_error(sd_bus_message* m) {
  DESKAGENT_SD_BUS(sd_bus_message_get_error, nullptr, m);
}
int sd_bus_message_is_method_error(sd_bus_message* m, const char* name) {
  DESKAGENT_SD_BUS(sd_bus_message_is_method_error, 0, m, name);
}
int sd_bus_message_append(sd_bus_message* m, const char* types, ...) {
  DESKAGENT_SD_BUS_LIST(sd_bus_message_appendv, types, m, types);
}
int sd_bus_message_append_strv(sd_bus_message* m, char** l) {
  DESKAGENT_SD_BUS(sd_bus_message_append_strv, -ENOSYS, m, l);
}
int sd_bus_message_open_container(sd_bus_message* m, char type, const char* contents) {
  DESKAGENT_SD_BUS(sd_bus_message_open_container, -ENOSYS, m, type, contents);
}
int sd_bus_message_close_container(sd_bus_message* m) {
  DESKAGENT_SD_BUS(sd_bus_message_close_container, -ENOSYS, m);
}
int sd_bus_message_read(sd_bus_message* m, const char* types, ...) {
  DESKAGENT_SD_BUS_LIST(sd_bus_message_readv, types, m, types);
}
int sd_bus_message_read_strv(sd_bus_message* m, char*** l) {
  DESKAGENT_SD_BUS(sd_bus_message_read_strv, -ENOSYS, m, l);
}
int sd_bus_message_peek_type(sd_bus_message* m, char* type, const char** contents) {
  DESKAGENT_SD_BUS(sd_bus_message_peek_type, -ENOSYS, m, type, contents);
}
int sd_bus_message_enter_container(sd_bus_message* m, char type, const char* contents) {
  DESKAGENT_SD_BUS(sd_bus_message_enter_container, -ENOSYS, m, type, contents);
}
int sd_bus_message_exit_container(sd_bus_message* m) {
  DESKAGENT_SD_BUS(sd_bus_message_exit_container, -ENOSYS, m);
}
int sd_bus_message_skip(sd_bus_message* m, const char* types) {
  DESKAGENT_SD_BUS(sd_bus_message_skip, -ENOSYS, m, types);
}

// --- Errors

int sd_bus_error_is_set(const sd_bus_error* e) {
  DESKAGENT_SD_BUS(sd_bus_error_is_set, 0, e);
}
void sd_bus_error_free(sd_bus_error* e) {
  static auto* const real =
      deskagent::platform::dbus::find<decltype(::sd_bus_error_free)>("sd_bus_error_free");
  if (real != nullptr) real(e);  // without it, nothing was ever set
}

}  // extern "C"
