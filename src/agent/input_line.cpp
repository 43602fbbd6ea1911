#include "agent/input_line.hpp"

#include <algorithm>

#include "agent/utf8.hpp"

namespace deskagent {

void InputLine::append(std::string_view bytes) {
  size_ += bytes.size();
  while (!bytes.empty()) {
    if (blocks_.empty() || blocks_.back().size() == kBlockBytes) blocks_.emplace_back();
    std::string& block = blocks_.back();
    std::size_t n = std::min(bytes.size(), kBlockBytes - block.size());
    block.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
}

void InputLine::appendSanitized(std::string_view bytes) {
  sanitizeUtf8(bytes, [this](std::string_view piece) { append(piece); });
}

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isHighSurrogate(long unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(long unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

void InputLine::replaceLoneSurrogateEscapes() {
  // Every block but the last is full, so a byte's place follows from its index.
  auto at = [this](std::size_t i) -> char& { return blocks_[i / kBlockBytes][i % kBlockBytes]; };
  // The code unit a "\uXXXX" escape at `i` names, or -1 where there is none.
  auto unitAt = [&](std::size_t i) -> long {
    if (i + 6 > size_ || at(i) != '\\' || at(i + 1) != 'u') return -1;
    long unit = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      int digit = hexDigit(at(k));
      if (digit < 0) return -1;
      unit = unit * 16 + digit;
    }
    return unit;
  };
  // The next backslash from `i` on, or size_: most lines have none, and are looked through a
  // block at a time.
  auto nextEscape = [&](std::size_t i) {
    while (i < size_) {
      const std::string& block = blocks_[i / kBlockBytes];
      std::size_t found = block.find('\\', i % kBlockBytes);
      if (found != std::string::npos) return i - i % kBlockBytes + found;
      i += block.size() - i % kBlockBytes;
    }
    return size_;
  };
  // Outside a string a backslash makes the line no JSON at all, so strings need not be tracked.
  for (std::size_t i = nextEscape(0); i < size_; i = nextEscape(i)) {
    long unit = unitAt(i);
    if (isHighSurrogate(unit) && isLowSurrogate(unitAt(i + 6))) {
      i += 12;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      for (std::size_t k = 0; k < 6; ++k) at(i + k) = "\\ufffd"[k];
      i += 6;
    } else {
      i += 2;  // any other escape, an escaped backslash too, is two bytes at least
    }
  }
}

bool InputLine::contains(char c) const {
  return std::any_of(blocks_.begin(), blocks_.end(),
                     [c](const std::string& block) { return block.find(c) != std::string::npos; });
}

}  // namespace deskagent
