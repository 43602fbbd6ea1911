#include "platform/wayland/wayland_chord.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>

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

}  // namespace

void ChordPoster::release() {
  if (!pressedKey_ || !sink_.ready()) return;
  sink_.key(*pressedKey_, false);
  for (auto it = pressedModifiers_.rbegin(); it != pressedModifiers_.rend(); ++it) {
    sink_.key(*it, false);
  }
  sink_.modifiers(0);
  pressedKey_.reset();
  pressedModifiers_.clear();
  sink_.flush();
}

void ChordPoster::post(std::uint16_t macKeyCode, bool down, std::uint64_t flags,
                       std::optional<TerminalKind> target) {
  if (!sink_.ready()) return;
  release();  // the release asked for, or that of a chord whose release never came
  if (!down) return;
  auto keys = chordKeys(keymap_, macKeyCode, flags, target);
  if (!keys) return;
  ++chords_;
  for (std::uint32_t modifier : keys->modifiers) sink_.key(modifier, true);
  pressedModifiers_ = keys->modifiers;
  sink_.modifiers(keys->modifierMask);
  sink_.key(keys->letter, true);
  pressedKey_ = keys->letter;
  sink_.flush();
}

VirtualKeyboard::VirtualKeyboard(Connection& connection, const ShortcutKeymap& keymap)
    : connection_(connection), keymap_(keymap) {
  const std::string keymapText = keymap.text();
  if (keymapText.empty() || connection_.virtualKeyboards() == nullptr) return;
  int fd = keymapFile(keymapText);
  if (fd < 0) return;
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
      connection_.virtualKeyboards(), connection_.seat());
  zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 static_cast<std::uint32_t>(keymapText.size() + 1));
  ::close(fd);
  connection_.flush();
}

VirtualKeyboard::~VirtualKeyboard() {
  if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
  connection_.flush();
}

void VirtualKeyboard::key(std::uint32_t evdevKey, bool down) {
  zwp_virtual_keyboard_v1_key(keyboard_, nowMs(), evdevKey, down ? kKeyPressed : kKeyReleased);
}

void VirtualKeyboard::modifiers(std::uint32_t depressed) {
  zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, 0, keymap_.layout());
}

}  // namespace deskagent::platform::wayland
