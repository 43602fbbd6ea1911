#include "agent/event.hpp"

#include <charconv>

#include "agent/utf8.hpp"

namespace deskagent {
namespace {

void appendString(std::string& out, std::string_view raw) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string clean;
  if (!isValidUtf8(raw)) {
    clean = sanitizeUtf8(raw);
    raw = clean;
  }
  out.push_back('"');
  for (char ch : raw) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

}  // namespace

std::string serializeEvent(const Event& event) {
  std::string out;
  out.reserve(64);
  out.push_back('{');
  bool first = true;
  for (const auto& [name, value] : event.members) {
    if (!first) out.push_back(',');
    first = false;
    appendString(out, name);
    out.push_back(':');
    const auto& v = value.get();
    if (const auto* s = std::get_if<std::string>(&v)) {
      appendString(out, *s);
    } else if (const auto* b = std::get_if<bool>(&v)) {
      out += *b ? "true" : "false";
    } else {
      char digits[24];
      auto result = std::to_chars(digits, digits + sizeof digits, std::get<std::int64_t>(v));
      out.append(digits, result.ptr);
    }
  }
  out.push_back('}');
  return out;
}

}  // namespace deskagent
