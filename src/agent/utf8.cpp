#include "agent/utf8.hpp"

namespace deskagent {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// How many bytes of `text` form the longest prefix of a well-formed sequence (at least 1), so a
// truncated sequence becomes one U+FFFD rather than one per byte.
std::size_t maximalSubpart(std::string_view text) {
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = b(0);
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  std::size_t i = 1;
  for (; i < need && i < text.size(); ++i) {
    unsigned char c = b(i);
    bool ok = i == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    if (!ok) break;
  }
  return i;
}

}  // namespace

std::size_t validUtf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  if (static_cast<unsigned char>(text[0]) < 0x80) return 1;
  std::size_t n = maximalSubpart(text);
  unsigned char lead = static_cast<unsigned char>(text[0]);
  std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  return n == need && lead >= 0xC2 && lead <= 0xF4 ? n : 0;
}

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = validUtf8SequenceLength(text.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void sanitizeUtf8(std::string_view text, const std::function<void(std::string_view)>& append) {
  std::size_t i = 0;
  while (i < text.size()) {
    // Hand on runs of ASCII and well-formed sequences at once: the common case.
    std::size_t start = i;
    for (std::size_t n; i < text.size(); i += n) {
      n = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : validUtf8SequenceLength(text.substr(i));
      if (n == 0) break;
    }
    if (i > start) append(text.substr(start, i - start));
    if (i >= text.size()) break;
    append(kReplacement);
    i += maximalSubpart(text.substr(i));
  }
}

std::string sanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  sanitizeUtf8(text, [&out](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace deskagent
