#pragma once

// UTF-8, as the protocol carries text, and UTF-16, as Windows does.

#include <string>
#include <string_view>

namespace deskagent::platform::windows {

std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

}  // namespace deskagent::platform::windows
