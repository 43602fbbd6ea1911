#pragma once

// UTF-8, as the protocol carries text, and UTF-16, as Windows does.

#include <string>
#include <string_view>

namespace deskagent::platform::windows {

std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);
// The text of a CF_UNICODETEXT format's bytes: UTF-16 up to its terminating null, as UTF-8.
std::string textOfUnicode(std::string_view bytes);

}  // namespace deskagent::platform::windows
