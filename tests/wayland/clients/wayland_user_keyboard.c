/* The user for the end-to-end tests: a keyboard (a virtual keyboard of its own, in the layout its
 * arguments name: layout, then an optional variant) and a copy of their own, driven by what the
 * test writes on its stdin, one line a command:
 *   <keys>            a chord, as "ctrl+s" or "ctrl+shift+c": every key pressed in turn, then
 *                     released in the reverse order. A letter is the key that
 *                     types it in the keyboard's layout, where one does (else the key at its
 *                     place on a US keyboard); other names are the modifiers'.
 *   layout <l> [<v>]  from now on, the keyboard is in that layout
 *   offer <n>         copies, offering <n> types of which the first is plain text (each read
 *                     gets "many types"), until the next command or the end of input
 * It prints "ready" once the compositor has its keymap and "done" once a command has reached
 * the compositor.
 */
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"

static struct wl_display* display;
static struct wl_seat* seat;
static struct zwp_virtual_keyboard_manager_v1* keyboards;
static struct zwp_virtual_keyboard_v1* keyboard;
static struct zwlr_data_control_manager_v1* data_control;
static struct zwlr_data_control_device_v1* data_device;
static struct zwlr_data_control_source_v1* source;
static struct xkb_context* xkb;
static struct xkb_keymap* keymap;
static struct xkb_state* state;

static const struct {
  const char* name;
  uint32_t code;
} keys[] = {
    {"ctrl", KEY_LEFTCTRL}, {"shift", KEY_LEFTSHIFT}, {"a", KEY_A}, {"c", KEY_C}, {"s", KEY_S},
    {"v", KEY_V},
};

static uint32_t now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static void set_layout(const char* layout, const char* variant) {
  struct xkb_rule_names names = {NULL, NULL, layout, variant, NULL};
  struct xkb_keymap* map = xkb_keymap_new_from_names(xkb, &names, 0);
  char* text = map ? xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
  int fd = memfd_create("keymap", MFD_CLOEXEC);
  if (text == NULL || fd < 0 || write(fd, text, strlen(text) + 1) < 0) exit(1);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 (uint32_t)strlen(text) + 1);
  close(fd);
  free(text);
  if (state) xkb_state_unref(state);
  if (keymap) xkb_keymap_unref(keymap);
  keymap = map;
  state = xkb_state_new(keymap);
}

/* The key, and the modifiers it leaves, as a keyboard sends them. */
static void key(uint32_t code, int down) {
  zwp_virtual_keyboard_v1_key(
      keyboard, now_ms(), code,
      down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  xkb_state_update_key(state, code + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
  zwp_virtual_keyboard_v1_modifiers(keyboard,
                                    xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                                    xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                                    xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                                    xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
}

/* The key that types `name`'s letter at the first level of some layout. */
static int letter_key(const char* name, uint32_t* code) {
  xkb_keysym_t sym = strlen(name) == 1 ? xkb_keysym_from_name(name, 0) : XKB_KEY_NoSymbol;
  for (xkb_layout_index_t layout = 0;
       sym != XKB_KEY_NoSymbol && layout < xkb_keymap_num_layouts(keymap); ++layout) {
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap);
         ++key) {
      const xkb_keysym_t* syms;
      int n = xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &syms);
      if (n == 1 && syms[0] == sym && key >= 8) {
        *code = key - 8;
        return 1;
      }
    }
  }
  return 0;
}

static int chord(char* line) {
  uint32_t pressed[8];
  int count = 0;
  for (char* name = strtok(line, "+"); name != NULL; name = strtok(NULL, "+")) {
    size_t i = 0;
    while (i < sizeof(keys) / sizeof(keys[0]) && strcmp(keys[i].name, name) != 0) ++i;
    if (i == sizeof(keys) / sizeof(keys[0]) || count == 8) return 0;
    if (!letter_key(name, &pressed[count])) pressed[count] = keys[i].code;
    ++count;
  }
  for (int i = 0; i < count; ++i) key(pressed[i], 1);
  for (int i = count - 1; i >= 0; --i) key(pressed[i], 0);
  return 1;
}

static void source_send(void* d, struct zwlr_data_control_source_v1* s, const char* type, int fd) {
  if (write(fd, "many types", 10) < 0) perror("write");
  close(fd);
}
static void source_cancelled(void* d, struct zwlr_data_control_source_v1* s) {
  zwlr_data_control_source_v1_destroy(s);
  if (s == source) source = NULL;
}
static const struct zwlr_data_control_source_v1_listener source_listener = {source_send,
                                                                            source_cancelled};

static void offer(int count) {
  if (source) zwlr_data_control_source_v1_destroy(source);
  source = zwlr_data_control_manager_v1_create_data_source(data_control);
  zwlr_data_control_source_v1_add_listener(source, &source_listener, NULL);
  zwlr_data_control_source_v1_offer(source, "text/plain;charset=utf-8");
  for (int i = 1; i < count; ++i) {
    char type[64];
    snprintf(type, sizeof(type), "application/x-deskagent-test-%d", i);
    zwlr_data_control_source_v1_offer(source, type);
    /* A burst larger than the socket takes would end the connection: sent as it drains. */
    while (i % 64 == 0 && wl_display_flush(display) < 0) {
      struct pollfd out = {wl_display_get_fd(display), POLLOUT, 0};
      if (poll(&out, 1, -1) < 0) exit(1);
    }
  }
  zwlr_data_control_device_v1_set_selection(data_device, source);
}

/* One line of the test's; false when the compositor has gone. */
static int command(char* line) {
  int ok = 1;
  if (source) {
    zwlr_data_control_source_v1_destroy(source);
    source = NULL;
  }
  if (strncmp(line, "offer ", 6) == 0) {
    offer(atoi(line + 6));
  } else if (strncmp(line, "layout ", 7) == 0) {
    char* layout = strtok(line + 7, " ");
    char* variant = strtok(NULL, " ");
    ok = layout != NULL;
    if (ok) set_layout(layout, variant);
  } else {
    ok = chord(line);
  }
  if (wl_display_roundtrip(display) < 0) return 0;
  puts(ok ? "done" : "unknown");
  return 1;
}

static void global(void* d, struct wl_registry* r, uint32_t name, const char* iface, uint32_t v) {
  if (strcmp(iface, wl_seat_interface.name) == 0 && seat == NULL)
    seat = wl_registry_bind(r, name, &wl_seat_interface, 1);
  else if (strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
    keyboards = wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
  else if (strcmp(iface, zwlr_data_control_manager_v1_interface.name) == 0)
    data_control = wl_registry_bind(r, name, &zwlr_data_control_manager_v1_interface, 1);
}
static void global_remove(void* d, struct wl_registry* r, uint32_t n) {}
static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc < 2) return 2;
  display = wl_display_connect(NULL);
  if (display == NULL) return 1;
  xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (seat == NULL || keyboards == NULL || data_control == NULL) return 1;
  keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
  /* Its events (the selections of others) are never dispatched to it. */
  data_device = zwlr_data_control_manager_v1_get_data_device(data_control, seat);
  set_layout(argv[1], argc > 2 ? argv[2] : NULL);
  wl_display_roundtrip(display);
  puts("ready");
  /* Its copy is served between commands. */
  char line[256];
  size_t used = 0;
  for (;;) {
    while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
    wl_display_flush(display);
    struct pollfd fds[2] = {{0, POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) return 1;
    if (fds[1].revents) {
      if (wl_display_read_events(display) < 0) return 1;
    } else {
      wl_display_cancel_read(display);
    }
    wl_display_dispatch_pending(display);
    if (!fds[0].revents) continue;
    ssize_t n = read(0, line + used, sizeof(line) - 1 - used);
    if (n <= 0) return 0;
    used += (size_t)n;
    line[used] = '\0';
    char* end;
    while ((end = strchr(line, '\n')) != NULL) {
      *end = '\0';
      if (!command(line)) return 1;
      used -= (size_t)(end + 1 - line);
      memmove(line, end + 1, used + 1);
    }
  }
  return 0;
}
