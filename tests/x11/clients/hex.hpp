#pragma once

// How the test clients print bytes on a line, and how the tests write the lines they expect:
// lowercase hex, "-" for none.

#include <string>

namespace x11_test {

inline std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out.empty() ? "-" : out;
}

}  // namespace x11_test
