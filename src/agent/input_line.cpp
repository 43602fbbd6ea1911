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

bool InputLine::contains(char c) const {
  return std::any_of(blocks_.begin(), blocks_.end(),
                     [c](const std::string& block) { return block.find(c) != std::string::npos; });
}

}  // namespace deskagent
