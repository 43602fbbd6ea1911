#include "platform/windows/win_clipboard_formats.hpp"

#include <array>

#include "platform/windows/win_text.hpp"

namespace deskagent::platform::windows {

bool isMemoryFormat(UINT format) {
  switch (format) {
    case CF_BITMAP:
    case CF_METAFILEPICT:
    case CF_PALETTE:
    case CF_ENHMETAFILE:
    case CF_OWNERDISPLAY:
    case CF_DSPBITMAP:
    case CF_DSPMETAFILEPICT:
    case CF_DSPENHMETAFILE:
      return false;
    default:
      return !(format >= CF_PRIVATEFIRST && format <= CF_GDIOBJLAST);
  }
}

std::string formatName(UINT format) {
  if (!isMemoryFormat(format)) {
    bool gdi = format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST;
    return (gdi || format < CF_PRIVATEFIRST ? "#gdi:" : "#private:") + std::to_string(format);
  }
  if (format >= 0xC000) {
    std::array<wchar_t, 256> name{};
    int length = GetClipboardFormatNameW(format, name.data(), static_cast<int>(name.size()));
    if (length > 0) return toUtf8(std::wstring_view(name.data(), static_cast<std::size_t>(length)));
  }
  return "#" + std::to_string(format);
}

UINT formatNumber(const std::string& name) {
  UINT format = 0;
  if (name.size() > 1 && name[0] == '#') {
    try {
      format = static_cast<UINT>(std::stoul(name.substr(1)));
    } catch (...) {
      return 0;
    }
  } else {
    format = RegisterClipboardFormatW(toWide(name).c_str());
  }
  return isMemoryFormat(format) ? format : 0;
}

}  // namespace deskagent::platform::windows
