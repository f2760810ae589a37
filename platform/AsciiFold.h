// Letter case folding of ASCII only, the same in every locale: A-Z fold onto a-z and every
// other byte, each byte of a UTF-8 sequence included, stands for itself.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace ascii {

constexpr std::array<unsigned char, 256> kFold = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
  return table;
}();

constexpr unsigned char fold(char c) { return kFold[static_cast<unsigned char>(c)]; }

constexpr unsigned char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A'))
                                : static_cast<unsigned char>(c);
}

// The text with its ASCII letters folded.
inline std::string folded(std::string text) {
  for (char& c : text) c = char(fold(c));
  return text;
}

// strcasecmp with ASCII folding.
inline int casecmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int diff = int(fold(*a)) - int(fold(*b));
    if (diff != 0 || *a == '\0') return diff;
  }
}

}  // namespace ascii
