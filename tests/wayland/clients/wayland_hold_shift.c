/* Another keyboard of the user's, holding Left Shift: a virtual keyboard that presses it, prints
 * "held", and exits when its standard input ends. Arguments: its layout and variant (by default
 * the session's). */
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client.h"

static struct wl_seat* seat;
static struct zwp_virtual_keyboard_manager_v1* manager;

static void global(void* d, struct wl_registry* r, uint32_t name, const char* iface, uint32_t v) {
  if (strcmp(iface, wl_seat_interface.name) == 0 && seat == NULL)
    seat = wl_registry_bind(r, name, &wl_seat_interface, 1);
  else if (strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
    manager = wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
}
static void global_remove(void* d, struct wl_registry* r, uint32_t n) {}
static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(int argc, char** argv) {
  struct wl_display* display = wl_display_connect(NULL);
  if (display == NULL) return 1;
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!seat || !manager) return 1;
  struct xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  struct xkb_rule_names names = {NULL, NULL, argc > 1 ? argv[1] : NULL, argc > 2 ? argv[2] : NULL,
                                 NULL};
  struct xkb_keymap* keymap = xkb_keymap_new_from_names(xkb, &names, 0);
  if (keymap == NULL) return 1;
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  size_t size = strlen(text) + 1;
  int fd = memfd_create("keymap", MFD_CLOEXEC);
  if (fd < 0 || write(fd, text, size) != (ssize_t)size) return 1;
  struct zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
  uint32_t shift = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
  zwp_virtual_keyboard_v1_key(keyboard, 0, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
  zwp_virtual_keyboard_v1_modifiers(keyboard, shift, 0, 0, 0);
  wl_display_roundtrip(display);
  printf("held\n");
  fflush(stdout);
  /* Held until standard input ends; the compositor lets go of a departed keyboard's keys. */
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}
