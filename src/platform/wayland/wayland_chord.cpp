#include "platform/wayland/wayland_chord.hpp"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/platform.hpp"

namespace deskagent::platform::wayland {

namespace {

constexpr std::uint32_t kKeyReleased = 0;  // wl_keyboard key states
constexpr std::uint32_t kKeyPressed = 1;

std::uint32_t nowMs() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The keymap handed to the compositor, in a sealed-off memory file it maps.
int keymapFile(const std::string& text) {
  int fd = ::memfd_create("deskagent-keymap", MFD_CLOEXEC);
  if (fd < 0) return -1;
  const std::size_t size = text.size() + 1;  // the terminating NUL is part of it
  if (::write(fd, text.c_str(), size) != static_cast<ssize_t>(size)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

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

// The keys of v and c in the first layout of `keymap` that types both Latin letters, at their
// first level: applications match their shortcuts by those letters.
struct LetterKeys {
  xkb_layout_index_t layout;
  std::uint32_t v;
  std::uint32_t c;
};

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

std::optional<LetterKeys> latinLetters(xkb_keymap* keymap) {
  for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts(keymap); ++layout) {
    auto v = evdevKeyOf(keymap, layout, XKB_KEY_v);
    auto c = evdevKeyOf(keymap, layout, XKB_KEY_c);
    if (v && c) return LetterKeys{layout, *v, *c};
  }
  return std::nullopt;
}

}  // namespace

ChordPoster::ChordPoster(Connection& connection) : connection_(connection) {
  context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context_ == nullptr) return;
  // The user's layout: the seat keyboard's keymap where there is one, else the one the session
  // names (XKB_DEFAULT_LAYOUT and the like), else "us". Where it has no Latin letters at all
  // (a single "ru" layout), the chord is typed in "us": the target sees the keymap of the
  // keyboard that types, and takes Control+м for no shortcut.
  if (auto user = seatKeymap(connection_)) {
    keymap_ = xkb_keymap_new_from_string(context_, user->c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                         XKB_KEYMAP_COMPILE_NO_FLAGS);
  }
  if (keymap_ == nullptr) {
    keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  }
  auto letters = keymap_ != nullptr ? latinLetters(keymap_) : std::nullopt;
  if (!letters) {
    if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
    const xkb_rule_names us = {nullptr, nullptr, "us", nullptr, nullptr};
    keymap_ = xkb_keymap_new_from_names(context_, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    letters = keymap_ != nullptr ? latinLetters(keymap_) : std::nullopt;
  }
  if (!letters) return;
  layout_ = letters->layout;
  keyV_ = letters->v;
  keyC_ = letters->c;
  char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
  if (text == nullptr) return;
  const std::string keymapText = text;
  std::free(text);
  int fd = keymapFile(keymapText);
  if (fd < 0) return;
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
      connection_.virtualKeyboards(), connection_.seat());
  zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 static_cast<std::uint32_t>(keymapText.size() + 1));
  ::close(fd);
  connection_.flush();
}

ChordPoster::~ChordPoster() {
  release();
  if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
  if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
  if (context_ != nullptr) xkb_context_unref(context_);
  connection_.flush();
}

void ChordPoster::key(std::uint32_t evdevKey, bool down) {
  zwp_virtual_keyboard_v1_key(keyboard_, nowMs(), evdevKey, down ? kKeyPressed : kKeyReleased);
}

void ChordPoster::modifiers(std::uint32_t depressed) {
  zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, 0, layout_);
}

void ChordPoster::release() {
  if (!pressedKey_ || !ready() || connection_.lost()) return;
  key(*pressedKey_, false);
  for (auto it = pressedModifiers_.rbegin(); it != pressedModifiers_.rend(); ++it) {
    key(*it, false);
  }
  modifiers(0);
  pressedKey_.reset();
  pressedModifiers_.clear();
  connection_.flush();
}

void ChordPoster::post(std::uint16_t macKeyCode, bool down, std::uint64_t flags,
                       std::optional<TerminalKind> target) {
  if (!ready() || connection_.lost()) return;
  release();  // the release asked for, or that of a chord whose release never came
  if (!down || (macKeyCode != kMacKeyV && macKeyCode != kMacKeyC)) return;
  const bool paste = macKeyCode == kMacKeyV;
  std::uint32_t letter = paste ? keyV_ : keyC_;
  bool control = (flags & (kFlagCommand | kFlagControl)) != 0;
  bool shift = (flags & kFlagShift) != 0;
  if ((flags & kFlagCommand) != 0) {
    if (target == TerminalKind::clipboardKeys) shift = true;
    if (target != TerminalKind::none && target != TerminalKind::clipboardKeys) {
      // A terminal without a clipboard key, or a window that cannot be told: Shift+Insert
      // pastes, and no copy chord is safe there (Control+C would interrupt a terminal's program).
      if (!paste) return;
      letter = KEY_INSERT;
      control = false;
      shift = true;
    }
  }
  ++chords_;
  std::uint32_t mask = 0;
  auto hold = [&](std::uint32_t evdevKey, const char* modName) {
    xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap_, modName);
    if (index != XKB_MOD_INVALID) mask |= 1U << index;
    key(evdevKey, true);
    pressedModifiers_.push_back(evdevKey);
  };
  if (control) hold(KEY_LEFTCTRL, XKB_MOD_NAME_CTRL);
  if (flags & kFlagAlternate) hold(KEY_LEFTALT, XKB_MOD_NAME_ALT);
  if (shift) hold(KEY_LEFTSHIFT, XKB_MOD_NAME_SHIFT);
  modifiers(mask);
  key(letter, true);
  pressedKey_ = letter;
  connection_.flush();
}

}  // namespace deskagent::platform::wayland
