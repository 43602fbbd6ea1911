#pragma once

// The two text encodings of the X selection targets: STRING is ISO Latin-1, the others UTF-8.

#include <string>
#include <string_view>

namespace deskagent::platform::x11 {

std::string latin1ToUtf8(std::string_view latin1);

// Characters Latin-1 cannot hold, and bytes that are not UTF-8, become '?'.
std::string utf8ToLatin1(std::string_view utf8);

}  // namespace deskagent::platform::x11
