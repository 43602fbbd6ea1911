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
  auto plain = [](unsigned char c) { return c >= 0x20 && c != '"' && c != '\\' && c != '/'; };
  std::size_t i = 0;
  while (i < raw.size()) {
    // Most of a text needs no escape: copy it a run at a time.
    std::size_t start = i;
    while (i < raw.size() && plain(static_cast<unsigned char>(raw[i]))) ++i;
    out.append(raw, start, i - start);
    if (i == raw.size()) break;
    unsigned char c = static_cast<unsigned char>(raw[i++]);
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
        out += "\\u00";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
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
