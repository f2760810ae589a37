// The content scanner: the block search, the file scan and the prefix test.
//
// The file scan reads many blocks with one system call and then treats them as the same
// consecutive 1024-byte blocks; the block search jumps to the start positions whose first
// character can match. Neither changes a result, a tail or the carried list.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "BlockScanner.h"
#include "Search.h"
#include "platform/AsciiFold.h"

#ifdef __SSE2__
#include <emmintrin.h>
#include <immintrin.h>
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

// How common each byte is in text, roughly: spaces, line ends and frequent letters high, rare
// letters and other bytes low. Only the order matters.
constexpr std::array<unsigned char, 256> kCommonness = [] {
  std::array<unsigned char, 256> ranks{};
  constexpr char kLetters[] = "zqjxkvbpygfwmucldrhsnioate";  // English letters, rarest first
  for (int c = 0; c < 256; ++c) ranks[size_t(c)] = c > 0x20 && c < 0x80 ? 20 : 10;
  for (char c : std::string_view("_();,.=")) ranks[size_t(c)] = 40;
  for (char c = '0'; c <= '9'; ++c) ranks[size_t(c)] = 30;
  for (size_t i = 0; i + 1 < sizeof kLetters; ++i) {
    ranks[size_t(kLetters[i])] = (unsigned char)(50 + i);
    ranks[size_t(ascii::upper(kLetters[i]))] = (unsigned char)(50 + i);
  }
  for (char c : std::string_view(" \n\t")) ranks[size_t(c)] = 100;
  return ranks;
}();

// Two positions of the pattern, in order, holding its least common characters, two different
// ones where it has them: the block search filters on them, so that few start positions need
// a full comparison.
std::pair<size_t, size_t> rarest_pair(const char* pattern, size_t length) {
  auto rank = [&](size_t i) { return kCommonness[static_cast<unsigned char>(pattern[i])]; };
  size_t first = 0;
  for (size_t i = 1; i < length; ++i)
    if (rank(i) < rank(first)) first = i;
  // For the second, a character other than the first's comes before the same one again.
  auto key = [&](size_t i) {
    return std::pair(ascii::fold(pattern[i]) == ascii::fold(pattern[first]), rank(i));
  };
  size_t second = first == length - 1 ? 0 : length - 1;
  for (size_t i = 0; i < length; ++i)
    if (i != first && key(i) < key(second)) second = i;
  return {std::min(first, second), std::max(first, second)};
}

#ifdef __SSE2__
// The filter step of find_whole for processors with AVX2: thirty-two start positions at a
// time, from *s on. Returns the first match, or -1 with *s at the first position left.
__attribute__((target("avx2"))) ssize_t filter_avx2(const char* text, size_t starts, const char* pattern,
                                                    size_t patternLength, size_t one, size_t two, size_t* s) {
  const __m256i first0 = _mm256_set1_epi8(char(ascii::fold(pattern[one])));
  const __m256i first1 = _mm256_set1_epi8(char(ascii::upper(pattern[one])));
  const __m256i last0 = _mm256_set1_epi8(char(ascii::fold(pattern[two])));
  const __m256i last1 = _mm256_set1_epi8(char(ascii::upper(pattern[two])));
  for (; *s + 32 <= starts; *s += 32) {
    __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + *s + one));
    __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + *s + two));
    __m256i heads = _mm256_or_si256(_mm256_cmpeq_epi8(head, first0), _mm256_cmpeq_epi8(head, first1));
    __m256i tails = _mm256_or_si256(_mm256_cmpeq_epi8(tail, last0), _mm256_cmpeq_epi8(tail, last1));
    for (unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_and_si256(heads, tails))); mask != 0;
         mask &= mask - 1) {
      size_t at = *s + size_t(__builtin_ctz(mask));
      if (equal_folded(text + at, pattern, patternLength)) return ssize_t(at);
    }
  }
  return -1;
}

const bool kHaveAvx2 = [] {
  __builtin_cpu_init();  // may run before the C library's own start-up has done it
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

}  // namespace

// Whole occurrences are looked for where the pattern's two least common characters stand, in
// either case, 32 or 16 start positions at a time; only those positions are compared in full.
ssize_t find_whole(const char* text, size_t length, const char* pattern, size_t patternLength) {
  if (length < patternLength) return -1;
  size_t starts = length - patternLength + 1;
  if (patternLength == 1) {
    size_t at = find_either(text, starts, ascii::fold(pattern[0]), ascii::upper(pattern[0]));
    return at < starts ? ssize_t(at) : -1;
  }
  auto matchesAt = [&](size_t s) { return equal_folded(text + s, pattern, patternLength); };
  size_t s = 0;
#ifdef __SSE2__
  auto [one, two] = rarest_pair(pattern, patternLength);
  if (kHaveAvx2) {
    ssize_t at = filter_avx2(text, starts, pattern, patternLength, one, two, &s);
    if (at >= 0) return at;
  }
  const __m128i first0 = _mm_set1_epi8(char(ascii::fold(pattern[one])));
  const __m128i first1 = _mm_set1_epi8(char(ascii::upper(pattern[one])));
  const __m128i last0 = _mm_set1_epi8(char(ascii::fold(pattern[two])));
  const __m128i last1 = _mm_set1_epi8(char(ascii::upper(pattern[two])));
  for (; s + 16 <= starts; s += 16) {
    __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + s + one));
    __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + s + two));
    __m128i heads = _mm_or_si128(_mm_cmpeq_epi8(head, first0), _mm_cmpeq_epi8(head, first1));
    __m128i tails = _mm_or_si128(_mm_cmpeq_epi8(tail, last0), _mm_cmpeq_epi8(tail, last1));
    for (unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(heads, tails))); mask != 0;
         mask &= mask - 1) {
      size_t at = s + size_t(__builtin_ctz(mask));
      if (matchesAt(at)) return ssize_t(at);
    }
  }
#endif
  for (; s < starts; ++s)
    if (matchesAt(s)) return ssize_t(s);
  return -1;
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
    runsAsOneText_ = runsAsOneText_ && needles_.back().length <= kSearchBlockSize + 1;
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
  CarryPartials(needle, text, length);
  return false;
}

// No whole occurrence can start after a partial one, so every partial match is carried.
void BlockScanner::CarryPartials(const Needle& needle, const char* text, size_t length) {
  for (ssize_t s = find_partial(text, length, needle.text, needle.length, 0); s >= 0;
       s = find_partial(text, length, needle.text, needle.length, size_t(s) + 1))
    carried_.push_back(needle.text + (length - size_t(s)));
}

// Block by block, a match completes in the block where the earliest-ending occurrence in the
// run's text ends, or in the first block when a carried tail completes there. When no tail
// can outlive a whole block, tails only reach into the first block, and what is carried out
// of the run is the partial matches of its last block.
ssize_t BlockScanner::ScanRun(const char* text, size_t blocks) {
  if (blocks == 0) return -1;
  if (!runsAsOneText_) {
    for (size_t block = 0; block < blocks; ++block)
      if (Scan(text + block * kSearchBlockSize, kSearchBlockSize)) return ssize_t(block);
    return -1;
  }
  if (ScanTails(text, kSearchBlockSize)) return 0;
  size_t searched = blocks;  // blocks in which an earlier-ending occurrence may still end
  ssize_t found = -1;
  for (const Needle& needle : needles_) {
    if (needle.length == 0) return 0;
    ssize_t at = find_whole(text, searched * kSearchBlockSize, needle.text, needle.length);
    if (at < 0) continue;
    found = ssize_t((size_t(at) + needle.length - 1) / kSearchBlockSize);
    searched = size_t(found) + 1;
  }
  if (found >= 0) return found;
  carried_.clear();
  const char* last = text + (blocks - 1) * kSearchBlockSize;
  for (const Needle& needle : needles_) CarryPartials(needle, last, kSearchBlockSize);
  return -1;
}

// ---- File scan

namespace {

// Scans what one read brought: runs of whole blocks without a NUL byte at once, and each
// block that holds a NUL, and a last short block, on its own.
bool scan_chunk(BlockScanner& scanner, const char* chunk, size_t size) {
  size_t offset = 0;
  while (offset < size) {
    const void* nul = memchr(chunk + offset, '\0', size - offset);
    size_t clean = (nul ? size_t(static_cast<const char*>(nul) - chunk) : size) - offset;
    size_t blocks = clean / kSearchBlockSize;
    if (scanner.ScanRun(chunk + offset, blocks) >= 0) return true;
    offset += blocks * kSearchBlockSize;
    if (offset < size) {
      size_t length = std::min(kSearchBlockSize, size - offset);
      if (scanner.Scan(chunk + offset, length)) return true;
      offset += length;
    }
  }
  return false;
}

}  // namespace

int32 f_seek(BFile& file, BList& strings) { return f_seek(file, strings, -1); }

int32 f_seek(BFile& file, BList& strings, off_t size) {
  BlockScanner scanner(strings);
  char buffer[kReadSize];
  for (off_t total = 0; size < 0 || total < size;) {
    ssize_t got = file.Read(buffer, sizeof buffer);
    if (got <= 0) return -1;  // the end of the file or a read error: carried tails never complete
    if (scan_chunk(scanner, buffer, size_t(got))) return 1;
    total += got;
  }
  return -1;  // as far as the file reached when it was opened: no read to find the end
}
