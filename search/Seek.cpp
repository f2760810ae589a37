// The content scanner: the block search, the file scan and the prefix test.
//
// The file scan reads many blocks with one system call and then treats them as the same
// consecutive 1024-byte blocks; the block search jumps to the start positions whose first
// character can match. Neither changes a result, a tail or the carried list.
#include <algorithm>
#include <cstring>

#include "BlockScanner.h"
#include "Search.h"
#include "platform/AsciiFold.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Bytes read with one system call: a whole number of blocks.
constexpr size_t kReadSize = 64 * kSearchBlockSize;

// The first index in p[0, n) holding a or b, or n.
size_t find_either(const char* p, size_t n, unsigned char a, unsigned char b) {
  if (a == b) {
    const void* hit = memchr(p, a, n);
    return hit == nullptr ? n : size_t(static_cast<const char*>(hit) - p);
  }
  size_t i = 0;
#ifdef __SSE2__
  const __m128i va = _mm_set1_epi8(char(a));
  const __m128i vb = _mm_set1_epi8(char(b));
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)));
    if (mask != 0) return i + size_t(__builtin_ctz(unsigned(mask)));
  }
#endif
  for (; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c == a || c == b) return i;
  }
  return n;
}

bool equal_folded(const char* text, const char* pattern, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (ascii::fold(text[i]) != ascii::fold(pattern[i])) return false;
  return true;
}

// The first offset from `from` on, below `end`, where the text holds the pattern's first
// character in either case and the next `compare(s)` characters match; -1 when there is none.
template <typename Compare>
ssize_t find_candidate(const char* text, size_t from, size_t end, char first, Compare matches) {
  unsigned char lower = ascii::fold(first), upper = ascii::upper(first);
  for (size_t s = from; s < end; ++s) {
    s += find_either(text + s, end - s, lower, upper);
    if (s >= end) break;
    if (matches(s)) return ssize_t(s);
  }
  return -1;
}

}  // namespace

ssize_t find_whole(const char* text, size_t length, const char* pattern, size_t patternLength) {
  if (length < patternLength) return -1;
  return find_candidate(text, 0, length - patternLength + 1, pattern[0], [&](size_t s) {
    return equal_folded(text + s + 1, pattern + 1, patternLength - 1);
  });
}

ssize_t find_partial(const char* text, size_t length, const char* pattern, size_t patternLength,
                     size_t from) {
  size_t start = length >= patternLength ? length - patternLength + 1 : 0;
  return find_candidate(text, std::max(start, from), length, pattern[0], [&](size_t s) {
    return equal_folded(text + s + 1, pattern + 1, length - s - 1);
  });
}

int32 f_seek(const char* text, char*& pattern) {
  if (*pattern == '\0') return 0;
  size_t length = strlen(text);
  size_t patternLength = strlen(pattern);
  ssize_t at = find_whole(text, length, pattern, patternLength);
  if (at >= 0) return int32(std::min<ssize_t>(at, INT32_MAX));
  ssize_t partial = find_partial(text, length, pattern, patternLength, 0);
  if (partial < 0) return -1;
  pattern += length - size_t(partial);
  return -2;
}

bool f_match(const char* string, const char* prefix) {
  for (; *prefix != '\0'; ++string, ++prefix)
    if (*string != *prefix) return false;  // also when the string ends first
  return true;
}

// ---- BlockScanner

BlockScanner::BlockScanner(const BList& strings) {
  int32 count = strings.CountItems();
  needles_.reserve(size_t(count));
  for (int32 i = 0; i < count; ++i) {
    const char* text = static_cast<const char*>(strings.ItemAt(i));
    needles_.push_back({text, strlen(text)});
  }
}

bool BlockScanner::Scan(const char* block, size_t size) {
  const void* nul = memchr(block, '\0', size);
  size_t length = nul ? size_t(static_cast<const char*>(nul) - block) : size;
  if (ScanTails(block, length)) return true;
  for (const Needle& needle : needles_)
    if (ScanNeedle(needle, block, length)) return true;
  return false;
}

// Tails are tried in the order they were carried; each one either completes, runs into the
// end of this text again (and is carried on, advanced), or is dropped.
bool BlockScanner::ScanTails(const char* text, size_t length) {
  next_.clear();
  for (const char* tail : carried_) {
    size_t i = 0;
    while (tail[i] != '\0' && i < length && ascii::fold(tail[i]) == ascii::fold(text[i])) ++i;
    if (tail[i] == '\0') return true;
    if (i == length) next_.push_back(tail + i);
  }
  carried_.swap(next_);
  return false;
}

bool BlockScanner::ScanNeedle(const Needle& needle, const char* text, size_t length) {
  if (needle.length == 0) return true;
  if (find_whole(text, length, needle.text, needle.length) >= 0) return true;
  // No whole occurrence can start after a partial one, so every partial match is carried.
  for (ssize_t s = find_partial(text, length, needle.text, needle.length, 0); s >= 0;
       s = find_partial(text, length, needle.text, needle.length, size_t(s) + 1))
    carried_.push_back(needle.text + (length - size_t(s)));
  return false;
}

// ---- File scan

int32 f_seek(BFile& file, BList& strings) {
  BlockScanner scanner(strings);
  char buffer[kReadSize];
  for (;;) {
    ssize_t got = file.Read(buffer, sizeof buffer);
    if (got <= 0) return -1;  // the end of the file or a read error: carried tails never complete
    for (size_t offset = 0; offset < size_t(got); offset += kSearchBlockSize) {
      size_t size = std::min(kSearchBlockSize, size_t(got) - offset);
      if (scanner.Scan(buffer + offset, size)) return 1;
    }
  }
}
