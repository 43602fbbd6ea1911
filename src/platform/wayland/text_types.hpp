#pragma once

#include <array>
#include <string>

#include "platform/platform.hpp"

namespace deskagent::platform::wayland {

// Plain text as Wayland owners offer it, in the order a reader prefers it.
inline constexpr std::array<const char*, 5> kTextTypes = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                          "text/plain", "TEXT", "STRING"};

bool isTextType(const std::string& type);

// `text` in every plain-text type.
PasteboardContents textContents(const std::string& text);

// The dictated text as a paste offers it: every plain-text type, the hints that keep it out of
// the clipboard managers' history where they honour them, and the mark that tells another agent to
// wait for our restore instead of saving our text as the user's.
PasteboardContents dictatedContents(const std::string& text);

}  // namespace deskagent::platform::wayland
