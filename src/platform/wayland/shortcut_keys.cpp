#include "platform/wayland/shortcut_keys.hpp"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdlib>

#include "platform/platform.hpp"

namespace deskagent::platform::wayland {

namespace {

// The keymap of the seat's keyboard: the user's layout, as the compositor gives it to windows.
std::optional<std::string> seatKeymap(Connection& connection) {
  connection.roundtrip();  // the seat's capabilities
  if (!connection.seatHasKeyboard()) return std::nullopt;
  std::optional<std::string> keymap;
  static const wl_keyboard_listener listener = {
      .keymap =
          [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
            void* text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            ::close(fd);
            if (text == MAP_FAILED) return;
            if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
              // The text ends with its NUL.
              static_cast<std::optional<std::string>*>(data)->emplace(static_cast<char*>(text),
                                                                      size - 1);
            }
            ::munmap(text, size);
          },
      .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
      .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
      .key = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
      .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                      std::uint32_t, std::uint32_t) {},
      .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
  };
  wl_keyboard* keyboard = wl_seat_get_keyboard(connection.seat());
  wl_keyboard_add_listener(keyboard, &listener, &keymap);
  connection.roundtrip();
  wl_keyboard_release(keyboard);
  return keymap;
}

std::optional<std::uint32_t> evdevKeyOf(xkb_keymap* keymap, xkb_layout_index_t layout,
                                        xkb_keysym_t keysym) {
  for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap);
       ++code) {
    const xkb_keysym_t* syms = nullptr;
    int count = xkb_keymap_key_get_syms_by_level(keymap, code, layout, 0, &syms);
    for (int i = 0; i < count; ++i) {
      if (syms[i] == keysym && code >= 8) return code - 8;  // xkb codes are evdev codes + 8
    }
  }
  return std::nullopt;
}

// The first layout of `keymap` that types both letters, with their keys.
bool findLatinLetters(xkb_keymap* keymap, xkb_layout_index_t& layout, std::uint32_t& v,
                      std::uint32_t& c) {
  for (xkb_layout_index_t l = 0; l < xkb_keymap_num_layouts(keymap); ++l) {
    auto keyV = evdevKeyOf(keymap, l, XKB_KEY_v);
    auto keyC = evdevKeyOf(keymap, l, XKB_KEY_c);
    if (keyV && keyC) {
      layout = l;
      v = *keyV;
      c = *keyC;
      return true;
    }
  }
  return false;
}

}  // namespace

ShortcutKeymap::ShortcutKeymap(Connection* connection) : keyV_(KEY_V), keyC_(KEY_C) {
  context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context_ == nullptr) return;
  if (connection != nullptr && connection->seat() != nullptr) {
    if (auto user = seatKeymap(*connection)) {
      keymap_ = xkb_keymap_new_from_string(context_, user->c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                           XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
  }
  if (keymap_ == nullptr) {
    keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  }
  if (keymap_ != nullptr && findLatinLetters(keymap_, layout_, keyV_, keyC_)) return;
  if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
  const xkb_rule_names us = {nullptr, nullptr, "us", nullptr, nullptr};
  keymap_ = xkb_keymap_new_from_names(context_, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap_ != nullptr) findLatinLetters(keymap_, layout_, keyV_, keyC_);
}

ShortcutKeymap::~ShortcutKeymap() {
  if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
  if (context_ != nullptr) xkb_context_unref(context_);
}

std::string ShortcutKeymap::text() const {
  if (keymap_ == nullptr) return {};
  char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
  if (text == nullptr) return {};
  std::string result = text;
  std::free(text);
  return result;
}

std::optional<ChordKeys> chordKeys(const ShortcutKeymap& keymap, std::uint16_t macKeyCode,
                                   std::uint64_t flags, std::optional<TerminalKind> target) {
  if (macKeyCode != kMacKeyV && macKeyCode != kMacKeyC) return std::nullopt;
  const bool paste = macKeyCode == kMacKeyV;
  ChordKeys keys;
  keys.letter = paste ? keymap.keyV() : keymap.keyC();
  bool control = (flags & (kFlagCommand | kFlagControl)) != 0;
  bool shift = (flags & kFlagShift) != 0;
  if ((flags & kFlagCommand) != 0) {
    if (target == TerminalKind::clipboardKeys) shift = true;
    if (target != TerminalKind::none && target != TerminalKind::clipboardKeys) {
      if (!paste) return std::nullopt;
      keys.letter = KEY_INSERT;
      control = false;
      shift = true;
    }
  }
  auto hold = [&](std::uint32_t evdevKey, const char* modName) {
    xkb_keymap* map = keymap.keymap();
    xkb_mod_index_t index = map ? xkb_keymap_mod_get_index(map, modName) : XKB_MOD_INVALID;
    if (index != XKB_MOD_INVALID) keys.modifierMask |= 1U << index;
    keys.modifiers.push_back(evdevKey);
  };
  if (control) hold(KEY_LEFTCTRL, XKB_MOD_NAME_CTRL);
  if (flags & kFlagAlternate) hold(KEY_LEFTALT, XKB_MOD_NAME_ALT);
  if (shift) hold(KEY_LEFTSHIFT, XKB_MOD_NAME_SHIFT);
  return keys;
}

}  // namespace deskagent::platform::wayland
