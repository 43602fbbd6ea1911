#include "platform/windows/win_text.hpp"

#include <windows.h>

#include <climits>

namespace deskagent::platform::windows {

std::wstring toWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  int size = static_cast<int>(utf8.size());
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string toUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  int size = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::string textOfUnicode(std::string_view bytes) {
  const auto* units = reinterpret_cast<const wchar_t*>(bytes.data());
  std::size_t count = bytes.size() / sizeof(wchar_t);
  std::size_t length = 0;
  while (length < count && units[length] != L'\0') ++length;
  return toUtf8(std::wstring_view(units, length));
}

}  // namespace deskagent::platform::windows
