// Little-endian integers in byte strings, as the flattened message and resource formats and the
// text cache's entries store them.
#pragma once

#include <cstdint>
#include <string>

// The unsigned integer of `bytes` bytes (1 to 8) at p.
inline uint64_t get_le(const char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(p[i]);
  return v;
}

// Appends the low `bytes` bytes of v.
inline void put_le(std::string* out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(char((v >> (8 * i)) & 0xff));
}
