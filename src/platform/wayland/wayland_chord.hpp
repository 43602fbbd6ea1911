#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/terminals.hpp"
#include "platform/wayland/shortcut_keys.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// Where synthetic keys go: a virtual keyboard of ours, or a compositor's own input API.
class KeySink {
 public:
  virtual ~KeySink() = default;
  virtual bool ready() const = 0;
  // A transfer starts, whose chord may follow: a sink that types only while a transfer runs gets
  // ready now. False when it cannot.
  virtual bool prepare() { return ready(); }
  // One evdev key's press or release.
  virtual void key(std::uint32_t evdevKey, bool down) = 0;
  // The modifiers now held, as the keymap's mask: for a sink whose keys alone give the target no
  // Control (a virtual keyboard); others derive them from the keys.
  virtual void modifiers(std::uint32_t depressed) { (void)depressed; }
  // The chord half is complete: send what is queued.
  virtual void flush() {}
};

// Types the shortcut chords (shortcut_keys.hpp says which keys) into a key sink.
class ChordPoster {
 public:
  ChordPoster(const ShortcutKeymap& keymap, KeySink& sink) : keymap_(keymap), sink_(sink) {}
  ~ChordPoster() { release(); }
  ChordPoster(const ChordPoster&) = delete;
  ChordPoster& operator=(const ChordPoster&) = delete;

  bool ready() const { return sink_.ready(); }
  // One half of a chord: the key's press (with its modifiers) or its release (and theirs), for a
  // target of that kind (nothing: one that cannot be told).
  void post(std::uint16_t macKeyCode, bool down, std::uint64_t flags,
            std::optional<TerminalKind> target);
  // Chords sent so far.
  const std::uint64_t& chords() const { return chords_; }

 private:
  void release();

  const ShortcutKeymap& keymap_;
  KeySink& sink_;
  std::uint64_t chords_ = 0;
  // Between a chord's press and its release.
  std::optional<std::uint32_t> pressedKey_;
  std::vector<std::uint32_t> pressedModifiers_;
};

// A virtual keyboard of ours (zwp_virtual_keyboard_v1) with the shortcut keymap, made once and
// kept: a new one costs the focused window a focus change, and its first key is lost.
class VirtualKeyboard final : public KeySink {
 public:
  VirtualKeyboard(Connection& connection, const ShortcutKeymap& keymap);
  ~VirtualKeyboard() override;
  VirtualKeyboard(const VirtualKeyboard&) = delete;
  VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

  bool ready() const override { return keyboard_ != nullptr && !connection_.lost(); }
  void key(std::uint32_t evdevKey, bool down) override;
  void modifiers(std::uint32_t depressed) override;
  void flush() override { connection_.flush(); }

 private:
  Connection& connection_;
  const ShortcutKeymap& keymap_;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
};

}  // namespace deskagent::platform::wayland
