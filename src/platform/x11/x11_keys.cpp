#include "platform/x11/x11_keys.hpp"

#include <X11/keysym.h>

#include <array>

#include "platform/platform.hpp"

namespace deskagent::platform::x11 {
namespace {

// XF86XK_Fn: the evdev KEY_FN keysym. Spelled out, as older headers lack it and newer ones
// define it through a macro they undefine again.
constexpr unsigned long kFnKeysym = 0x10081000 + 0x1D0;

struct KeysymRow {
  unsigned long keysym;
  std::int64_t macKeyCode;
};

// Meta and Super both stand for the Command keys: keyboards and layouts put either on them.
constexpr std::array<KeysymRow, 13> kModifierKeysyms{{
    {XK_Shift_L, kMacLeftShift},
    {XK_Shift_R, kMacRightShift},
    {XK_Control_L, kMacLeftControl},
    {XK_Control_R, kMacRightControl},
    {XK_Alt_L, kMacLeftOption},
    {XK_Alt_R, kMacRightOption},
    {XK_ISO_Level3_Shift, kMacRightOption},
    {XK_Super_L, kMacLeftCommand},
    {XK_Meta_L, kMacLeftCommand},
    {XK_Super_R, kMacRightCommand},
    {XK_Meta_R, kMacRightCommand},
    {XK_Caps_Lock, kMacCapsLock},
    {kFnKeysym, kMacFn},
}};

struct LetterRow {
  std::uint16_t macKeyCode;
  LetterKey key;
};

constexpr std::array<LetterRow, 26> kLetters{{
    {0, {XK_a, 38}},  {1, {XK_s, 39}},  {2, {XK_d, 40}},  {3, {XK_f, 41}},  {4, {XK_h, 43}},
    {5, {XK_g, 42}},  {6, {XK_z, 52}},  {7, {XK_x, 53}},  {8, {XK_c, 54}},  {9, {XK_v, 55}},
    {11, {XK_b, 56}}, {12, {XK_q, 24}}, {13, {XK_w, 25}}, {14, {XK_e, 26}}, {15, {XK_r, 27}},
    {16, {XK_y, 29}}, {17, {XK_t, 28}}, {31, {XK_o, 32}}, {32, {XK_u, 30}}, {34, {XK_i, 31}},
    {35, {XK_p, 33}}, {37, {XK_l, 46}}, {38, {XK_j, 44}}, {40, {XK_k, 45}}, {45, {XK_n, 57}},
    {46, {XK_m, 58}},
}};

}  // namespace

std::optional<std::int64_t> macKeyCodeForModifierKeysym(unsigned long keysym) {
  for (const auto& row : kModifierKeysyms) {
    if (row.keysym == keysym) return row.macKeyCode;
  }
  return std::nullopt;
}

bool isChordDisturbingKeysym(unsigned long keysym) {
  switch (keysym) {
    case XK_Shift_L:
    case XK_Shift_R:
    case XK_Control_L:
    case XK_Control_R:
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R:
    case XK_Super_L:
    case XK_Super_R:
    case XK_Hyper_L:
    case XK_Hyper_R:
    case XK_ISO_Level3_Shift:
    case XK_ISO_Level5_Shift:
    case XK_Mode_switch:
      return true;
    default:
      return false;
  }
}

std::optional<LetterKey> letterKeyForMacKeyCode(std::uint16_t macKeyCode) {
  for (const auto& row : kLetters) {
    if (row.macKeyCode == macKeyCode) return row.key;
  }
  return std::nullopt;
}

}  // namespace deskagent::platform::x11
