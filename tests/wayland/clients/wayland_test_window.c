/* A native Wayland window for the end-to-end tests: one toplevel that takes the keyboard focus
 * and prints, one line each, what reaches it:
 *   ready                         mapped on the compositor
 *   keymap <layout>               the keymap of the keyboard it hears now
 *   focus in                      it has the keyboard focus
 *   key <name> <ctrl> <shift>     a key press, with whether Control and Shift were active
 *   pasted: <text> hint: <hint>   Control+V (with or without Shift): the clipboard's text and
 *                                 its x-kde-passwordManagerHint
 *   copied: <text>                Control+C: it set the clipboard to its selection
 * Arguments: its selection (empty: nothing selected, Control+C copies nothing), its app id,
 * "stuck" for a window that takes the clipboard as it gets the focus and then never gives its
 * content, and a layout and variant: the user's keyboard in that layout, holding Left Shift (a
 * virtual keyboard of its own, made before it maps).
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client.h"
#include "xdg-shell-client.h"

static struct wl_display* display;
static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct wl_seat* seat;
static struct xdg_wm_base* wm_base;
static struct wl_data_device_manager* data_manager;
static struct zwp_virtual_keyboard_manager_v1* keyboards;
static struct wl_data_device* data_device;
static struct wl_data_offer* selection_offer;
static struct wl_keyboard* keyboard;
static struct wl_surface* surface;
static struct xkb_context* xkb;
static struct xkb_keymap* keymap;
static struct xkb_state* xkb_state;
static const char* selected_text = "selected by the test window";
static int configured;
static int stuck;

/* One type of the clipboard; empty when there is none. */
static char* receive(const char* type) {
  static char text[65536];
  int fds[2];
  text[0] = '\0';
  if (selection_offer == NULL || pipe2(fds, O_CLOEXEC) != 0) return text;
  wl_data_offer_receive(selection_offer, type, fds[1]);
  close(fds[1]);
  wl_display_flush(display);
  /* Read to its end: an owner that never ends it fails the test on the test's own timeout. */
  size_t used = 0;
  ssize_t n;
  while (used < sizeof(text) - 1 && (n = read(fds[0], text + used, sizeof(text) - 1 - used)) > 0)
    used += (size_t)n;
  close(fds[0]);
  text[used] = '\0';
  return text;
}

static void paste(void) {
  /* The hint first: a read of the text is what tells the agent the paste is done. */
  char hint[256];
  snprintf(hint, sizeof(hint), "%s", receive("x-kde-passwordManagerHint"));
  printf("pasted: %s hint: %s\n", receive("text/plain;charset=utf-8"), hint);
}

static void source_send(void* data, struct wl_data_source* source, const char* type, int fd) {
  if (stuck) return; /* the reader's pipe stays open, and empty */
  if (write(fd, selected_text, strlen(selected_text)) < 0) perror("write");
  close(fd);
}
static void source_cancelled(void* data, struct wl_data_source* source) {
  wl_data_source_destroy(source);
}
/* Drag-and-drop events never come: the seat has no pointer. */
static const struct wl_data_source_listener source_listener = {NULL, source_send, source_cancelled,
                                                               NULL, NULL,        NULL};

static void copy(uint32_t serial) {
  struct wl_data_source* source = wl_data_device_manager_create_data_source(data_manager);
  wl_data_source_add_listener(source, &source_listener, NULL);
  wl_data_source_offer(source, "text/plain;charset=utf-8");
  wl_data_device_set_selection(data_device, source, serial);
  wl_display_flush(display); /* the compositor has it before the test hears of it */
  printf("copied: %s\n", selected_text);
}

static void kb_keymap(void* d, struct wl_keyboard* k, uint32_t format, int fd, uint32_t size) {
  char* text = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || text == MAP_FAILED) return;
  if (xkb_state) xkb_state_unref(xkb_state);
  if (keymap) xkb_keymap_unref(keymap);
  keymap = xkb_keymap_new_from_string(xkb, text, XKB_KEYMAP_FORMAT_TEXT_V1, 0);
  munmap(text, size);
  xkb_state = keymap ? xkb_state_new(keymap) : NULL;
  if (keymap) printf("keymap %s\n", xkb_keymap_layout_get_name(keymap, 0));
}
static void kb_enter(void* d, struct wl_keyboard* k, uint32_t serial, struct wl_surface* s,
                     struct wl_array* keys) {
  puts("focus in");
  if (stuck) copy(serial);
}
static void kb_leave(void* d, struct wl_keyboard* k, uint32_t serial, struct wl_surface* s) {}
static void kb_key(void* d, struct wl_keyboard* k, uint32_t serial, uint32_t time, uint32_t key,
                   uint32_t state) {
  if (state != WL_KEYBOARD_KEY_STATE_PRESSED || xkb_state == NULL) return;
  xkb_keysym_t sym = xkb_state_key_get_one_sym(xkb_state, key + 8);
  char name[64];
  xkb_keysym_get_name(sym, name, sizeof(name));
  int ctrl =
      xkb_state_mod_name_is_active(xkb_state, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0;
  int shift =
      xkb_state_mod_name_is_active(xkb_state, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0;
  printf("key %s %d %d\n", name, ctrl, shift);
  xkb_keysym_t lower = xkb_keysym_to_lower(sym);
  if (ctrl && lower == XKB_KEY_v) paste();
  if (ctrl && lower == XKB_KEY_c && *selected_text) copy(serial);
}
static void kb_modifiers(void* d, struct wl_keyboard* k, uint32_t serial, uint32_t depressed,
                         uint32_t latched, uint32_t locked, uint32_t group) {
  if (xkb_state) xkb_state_update_mask(xkb_state, depressed, latched, locked, 0, 0, group);
}
static const struct wl_keyboard_listener keyboard_listener = {
    kb_keymap, kb_enter, kb_leave, kb_key, kb_modifiers, NULL}; /* no repeat information at v1 */

static void seat_capabilities(void* d, struct wl_seat* s, uint32_t caps) {
  if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard == NULL) {
    keyboard = wl_seat_get_keyboard(s);
    wl_keyboard_add_listener(keyboard, &keyboard_listener, NULL);
  }
}
static const struct wl_seat_listener seat_listener = {seat_capabilities, NULL}; /* no name at v1 */

static void dd_offer(void* d, struct wl_data_device* dd, struct wl_data_offer* offer) {}
static void dd_selection(void* d, struct wl_data_device* dd, struct wl_data_offer* offer) {
  if (selection_offer) wl_data_offer_destroy(selection_offer);
  selection_offer = offer;
}
static const struct wl_data_device_listener data_device_listener = {
    dd_offer, NULL, NULL, NULL, NULL, dd_selection}; /* no drag and drop either */

static void wm_ping(void* d, struct xdg_wm_base* b, uint32_t serial) {
  xdg_wm_base_pong(b, serial);
}
static const struct xdg_wm_base_listener wm_listener = {wm_ping};

/* Mapped with its first configure, in black: a new memfd reads as zeros. */
static void xdg_configure(void* d, struct xdg_surface* xs, uint32_t serial) {
  xdg_surface_ack_configure(xs, serial);
  if (configured) return;
  configured = 1;
  const int width = 200, height = 100, stride = width * 4, size = stride * height;
  int fd = memfd_create("test-window", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) != 0) exit(1);
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
  struct wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_surface_commit(surface);
  puts("ready");
}
static const struct xdg_surface_listener xdg_surface_listener = {xdg_configure};

/* The user's keyboard in that layout, with Left Shift down. */
static void hold_shift(const char* layout, const char* variant) {
  struct xkb_rule_names names = {NULL, NULL, layout, variant, NULL};
  struct xkb_keymap* map = xkb_keymap_new_from_names(xkb, &names, 0);
  char* text = map ? xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
  int fd = memfd_create("keymap", MFD_CLOEXEC);
  if (keyboards == NULL || text == NULL || fd < 0 || write(fd, text, strlen(text) + 1) < 0) exit(1);
  struct zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 (uint32_t)strlen(text) + 1);
  zwp_virtual_keyboard_v1_key(keyboard, 0, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
  uint32_t shift = 1u << xkb_keymap_mod_get_index(map, XKB_MOD_NAME_SHIFT);
  zwp_virtual_keyboard_v1_modifiers(keyboard, shift, 0, 0, 0);
}

static void global(void* d, struct wl_registry* r, uint32_t name, const char* iface, uint32_t v) {
  if (strcmp(iface, wl_compositor_interface.name) == 0)
    compositor = wl_registry_bind(r, name, &wl_compositor_interface, 4);
  else if (strcmp(iface, wl_shm_interface.name) == 0)
    shm = wl_registry_bind(r, name, &wl_shm_interface, 1);
  else if (strcmp(iface, wl_seat_interface.name) == 0 && seat == NULL)
    seat = wl_registry_bind(r, name, &wl_seat_interface, 1);
  else if (strcmp(iface, xdg_wm_base_interface.name) == 0)
    wm_base = wl_registry_bind(r, name, &xdg_wm_base_interface, 1);
  else if (strcmp(iface, wl_data_device_manager_interface.name) == 0)
    data_manager = wl_registry_bind(r, name, &wl_data_device_manager_interface, 1);
  else if (strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
    keyboards = wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
}
static void global_remove(void* d, struct wl_registry* r, uint32_t n) {}
static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0); /* each line reaches the test as it is printed */
  if (argc > 1) selected_text = argv[1];
  stuck = argc > 3 && strcmp(argv[3], "stuck") == 0;
  display = wl_display_connect(NULL);
  if (display == NULL) return 1;
  xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !seat || !wm_base || !data_manager) return 1;
  if (argc > 5) hold_shift(argv[4], argv[5]);
  wl_seat_add_listener(seat, &seat_listener, NULL);
  data_device = wl_data_device_manager_get_data_device(data_manager, seat);
  wl_data_device_add_listener(data_device, &data_device_listener, NULL);
  xdg_wm_base_add_listener(wm_base, &wm_listener, NULL);
  surface = wl_compositor_create_surface(compositor);
  struct xdg_surface* xs = xdg_wm_base_get_xdg_surface(wm_base, surface);
  xdg_surface_add_listener(xs, &xdg_surface_listener, NULL);
  struct xdg_toplevel* top = xdg_surface_get_toplevel(xs); /* its events need no answer */
  xdg_toplevel_set_app_id(top, argc > 2 ? argv[2] : "deskagent-test-window");
  wl_surface_commit(surface);
  while (wl_display_dispatch(display) >= 0) {
  }
  return 0;
}
