// The content scanner: the block search, the file scan and the prefix test.
//
// The file scan reads many blocks with one system call and then treats them as the same
// consecutive 1024-byte blocks; the searches jump to the start positions whose two rarest
// characters can match. Neither changes a result.
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

// What the filtered search answers when it has compared as many start positions in full as
// it was allowed.
constexpr ssize_t kOverAllowance = -2;

// The length of the ASCII head of p[0, n).
size_t ascii_prefix(const char* p, size_t n) {
  size_t i = 0;
#ifdef __SSE2__
  for (; i + 16 <= n; i += 16) {
    int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (mask != 0) return i + size_t(__builtin_ctz(unsigned(mask)));
  }
#endif
  while (i < n && static_cast<unsigned char>(p[i]) < 0x80) ++i;
  return i;
}

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
// Which of 16 start positions hold the pattern's two chosen characters, in either case.
struct Sse2Pairs {
  static constexpr size_t kWidth = 16;
  Sse2Pairs(char first, char last)
      : first0(_mm_set1_epi8(char(ascii::fold(first)))), first1(_mm_set1_epi8(char(ascii::upper(first)))),
        last0(_mm_set1_epi8(char(ascii::fold(last)))), last1(_mm_set1_epi8(char(ascii::upper(last)))) {}
  // A bit for each position whose first character is at `head` and last at `tail`.
  unsigned At(const char* head, const char* tail) const {
    __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(head));
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tail));
    __m128i heads = _mm_or_si128(_mm_cmpeq_epi8(h, first0), _mm_cmpeq_epi8(h, first1));
    __m128i tails = _mm_or_si128(_mm_cmpeq_epi8(t, last0), _mm_cmpeq_epi8(t, last1));
    return unsigned(_mm_movemask_epi8(_mm_and_si128(heads, tails)));
  }
  __m128i first0, first1, last0, last1;
};

// The same, 32 at a time, for processors with AVX2.
struct Avx2Pairs {
  static constexpr size_t kWidth = 32;
  [[gnu::target("avx2")]] Avx2Pairs(char first, char last)
      : first0(_mm256_set1_epi8(char(ascii::fold(first)))), first1(_mm256_set1_epi8(char(ascii::upper(first)))),
        last0(_mm256_set1_epi8(char(ascii::fold(last)))), last1(_mm256_set1_epi8(char(ascii::upper(last)))) {}
  [[gnu::target("avx2")]] unsigned At(const char* head, const char* tail) const {
    __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(head));
    __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tail));
    __m256i heads = _mm256_or_si256(_mm256_cmpeq_epi8(h, first0), _mm256_cmpeq_epi8(h, first1));
    __m256i tails = _mm256_or_si256(_mm256_cmpeq_epi8(t, last0), _mm256_cmpeq_epi8(t, last1));
    return unsigned(_mm256_movemask_epi8(_mm256_and_si256(heads, tails)));
  }
  __m256i first0, first1, last0, last1;
};

// The filter step of find_whole: Pairs::kWidth start positions at a time, from *s on, keeping those
// where the characters at `one` and `two` match in either case and comparing them in full.
// Returns the first match, or -1 with *s at the first position left, or kOverAllowance.
template <typename Pairs>
[[gnu::always_inline]] inline ssize_t filter_with(const char* text, size_t starts, const char* pattern,
                                                  size_t patternLength, size_t one, size_t two, size_t* s,
                                                  size_t* allowance) {
  const Pairs pairs(pattern[one], pattern[two]);
  for (; *s + Pairs::kWidth <= starts; *s += Pairs::kWidth) {
    unsigned mask = pairs.At(text + *s + one, text + *s + two);
    if (mask != 0 && *allowance < size_t(__builtin_popcount(mask))) return kOverAllowance;
    for (; mask != 0; mask &= mask - 1) {
      --*allowance;
      size_t at = *s + size_t(__builtin_ctz(mask));
      if (equal_folded(text + at, pattern, patternLength)) return ssize_t(at);
    }
  }
  return -1;
}

[[gnu::target("avx2")]] ssize_t filter_avx2(const char* text, size_t starts, const char* pattern,
                                            size_t patternLength, size_t one, size_t two, size_t* s,
                                            size_t* allowance) {
  return filter_with<Avx2Pairs>(text, starts, pattern, patternLength, one, two, s, allowance);
}

const bool kHaveAvx2 = [] {
  __builtin_cpu_init();  // may run before the C library's own start-up has done it
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

}  // namespace

// Whole occurrences are looked for where the pattern's two least common characters stand, in
// either case, 32 or 16 start positions at a time; only those positions are compared in full,
// at most `allowance` of them: past that the search stops with kOverAllowance and *s at the
// first start position it has not ruled out.
ssize_t find_whole_allowed(const char* text, size_t length, const char* pattern, size_t patternLength,
                           size_t allowance, size_t* s) {
  *s = 0;
  if (length < patternLength) return -1;
  size_t starts = length - patternLength + 1;
  if (patternLength == 1) {
    size_t at = find_either(text, starts, ascii::fold(pattern[0]), ascii::upper(pattern[0]));
    return at < starts ? ssize_t(at) : -1;
  }
  auto matchesAt = [&](size_t at) { return equal_folded(text + at, pattern, patternLength); };
#ifdef __SSE2__
  auto [one, two] = rarest_pair(pattern, patternLength);
  if (kHaveAvx2) {
    ssize_t at = filter_avx2(text, starts, pattern, patternLength, one, two, s, &allowance);
    if (at != -1) return at;
  }
  ssize_t at = filter_with<Sse2Pairs>(text, starts, pattern, patternLength, one, two, s, &allowance);
  if (at != -1) return at;
#endif
  for (; *s < starts; ++*s) {
    if (allowance-- == 0) return kOverAllowance;
    if (matchesAt(*s)) return ssize_t(*s);
  }
  return -1;
}

ssize_t find_whole(const char* text, size_t length, const char* pattern, size_t patternLength) {
  size_t s;
  return find_whole_allowed(text, length, pattern, patternLength, SIZE_MAX, &s);
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

// ---- FoldedNeedle

FoldedNeedle::FoldedNeedle(std::string folded) : needle_(std::move(folded)), border_(needle_.size(), 0) {
  for (size_t i = 1, k = 0; i < needle_.size(); ++i) {
    while (k > 0 && needle_[i] != needle_[k]) k = border_[k - 1];
    if (needle_[i] == needle_[k]) ++k;
    border_[i] = uint32_t(k);
  }
}

// The automaton's step: from `state` characters matched, the text character c.
size_t FoldedNeedle::Step(size_t state, char c) const {
  char folded = char(ascii::fold(c));
  if (state == needle_.size()) state = border_[state - 1];
  while (state > 0 && needle_[state] != folded) state = border_[state - 1];
  return needle_[state] == folded ? state + 1 : 0;
}

ssize_t FoldedNeedle::Automaton(const char* text, size_t length, size_t from) const {
  for (size_t i = from, state = 0; i < length; ++i) {
    state = Step(state, text[i]);
    if (state == needle_.size()) return ssize_t(i + 1);
  }
  return -1;
}

// The filtered search may compare a few start positions per byte in full; past that (a text
// of near-matches for a long needle) the automaton takes over from where it stopped.
ssize_t FoldedNeedle::FindIn(const char* text, size_t length) const {
  if (needle_.empty()) return 0;
  size_t stopped;
  size_t allowance = 64 + 4 * length / needle_.size();
  ssize_t at = find_whole_allowed(text, length, needle_.data(), needle_.size(), allowance, &stopped);
  if (at != kOverAllowance) return at;
  ssize_t end = Automaton(text, length, stopped);
  return end < 0 ? -1 : end - ssize_t(needle_.size());
}

bool FoldedNeedle::Feed(size_t* matched, const char* text, size_t length) const {
  if (needle_.empty()) return true;
  // An occurrence begun in earlier pieces goes on here until the automaton lets go of it.
  size_t from = 0;
  for (; *matched > 0 && from < length; ++from) {
    *matched = Step(*matched, text[from]);
    if (*matched == needle_.size()) return true;
  }
  if (from == length) return false;
  if (FindIn(text + from, length - from) >= 0) return true;
  // Nothing begun before `from` is alive, so the prefix that ends this piece lies in its
  // last needle length - 1 bytes.
  size_t tail = std::max(from, length - std::min(length, needle_.size() - 1));
  for (size_t i = tail; i < length; ++i) *matched = Step(*matched, text[i]);
  return false;
}

// ---- SearchStrings and BlockScanner

SearchStrings::SearchStrings(const BList& strings) {
  int32 count = strings.CountItems();
  needles_.reserve(size_t(count));
  for (int32 i = 0; i < count; ++i) {
    std::string needle = static_cast<const char*>(strings.ItemAt(i));
    foldsText_ = foldsText_ || !needs_only_ascii_folding(needle);
    needles_.emplace_back(fold_case(needle));
  }
}

BlockScanner::BlockScanner(const SearchStrings& strings)
    : strings_(strings), matched_(strings.Needles().size(), 0) {}

bool BlockScanner::FeedFolded(const char* text, size_t length) {
  for (size_t i = 0; i < matched_.size(); ++i)
    if (strings_.Needles()[i].Feed(&matched_[i], text, length)) return true;
  return false;
}

// ASCII folds to ASCII alone, and the needles fold ASCII letters as they compare: so the
// ASCII head of a piece (most often all of it) goes to them as it stands, and only what
// follows is folded first.
bool BlockScanner::Feed(const char* text, size_t length) {
  if (!strings_.FoldsText()) return FeedFolded(text, length);
  size_t ascii = folder_.HasPending() ? 0 : ascii_prefix(text, length);
  if (ascii > 0 && FeedFolded(text, ascii)) return true;
  if (ascii == length) return false;
  folded_.clear();
  folder_.Fold(text + ascii, length - ascii, &folded_);
  return FeedFolded(folded_.data(), folded_.size());
}

bool BlockScanner::Scan(const char* block, size_t size) {
  const void* nul = memchr(block, '\0', size);
  size_t length = nul ? size_t(static_cast<const char*>(nul) - block) : size;
  return Feed(block, length);
}

bool BlockScanner::ScanRun(const char* text, size_t blocks) { return Feed(text, blocks * kSearchBlockSize); }

bool BlockScanner::Finish() {
  if (!strings_.FoldsText()) return false;
  folded_.clear();
  folder_.Finish(&folded_);
  return !folded_.empty() && FeedFolded(folded_.data(), folded_.size());
}

// ---- File scan

// Runs of whole blocks without a NUL byte are scanned at once, and each block that holds a NUL,
// and a last short block, on its own.
bool BlockScanner::ScanChunk(const char* chunk, size_t size) {
  size_t offset = 0;
  while (offset < size) {
    const void* nul = memchr(chunk + offset, '\0', size - offset);
    size_t clean = (nul ? size_t(static_cast<const char*>(nul) - chunk) : size) - offset;
    size_t blocks = clean / kSearchBlockSize;
    if (ScanRun(chunk + offset, blocks)) return true;
    offset += blocks * kSearchBlockSize;
    if (offset < size) {
      size_t length = std::min(kSearchBlockSize, size - offset);
      if (Scan(chunk + offset, length)) return true;
      offset += length;
    }
  }
  return false;
}

int32 f_seek(BFile& file, BList& strings) { return f_seek(file, strings, -1); }

int32 f_seek(BFile& file, BList& strings, off_t size) { return f_seek(file, SearchStrings(strings), size); }

int32 f_seek(BFile& file, const SearchStrings& strings, off_t size) {
  return f_seek(file, strings, size, nullptr);
}

int32 f_seek(BFile& file, const SearchStrings& strings, off_t size, ScanHabit* habit) {
  size_t none;
  return f_seek(file, strings, size, habit, nullptr, 0, &none);
}

int32 f_seek(BFile& file, const SearchStrings& strings, off_t size, ScanHabit* habit, char* head,
             size_t headCapacity, size_t* headSize) {
  BlockScanner scanner(strings);
  char buffer[kScanReadSize];
  *headSize = 0;
  bool headFirst = habit != nullptr && habit->matchesInHeads && size > off_t(kHeadScanSize);
  if (habit != nullptr) habit->matchesInHeads = false;  // until this file's head holds a match
  for (off_t total = 0; size < 0 || total < size;) {
    ssize_t got = file.Read(buffer, total == 0 && headFirst ? kHeadScanSize : sizeof buffer);
    if (got < 0) return -1;
    if (got == 0) break;  // the end of the file
    size_t scanned = 0;
    if (total == 0) {
      if (head != nullptr) {
        *headSize = std::min({size_t(got), headCapacity, kHeadScanSize});
        memcpy(head, buffer, *headSize);
      }
      // The head is scanned on its own (a whole number of blocks, so nothing changes) to learn
      // whether the match lay in it.
      scanned = std::min(size_t(got), kHeadScanSize);
      if (scanner.ScanChunk(buffer, scanned)) {
        if (habit != nullptr) habit->matchesInHeads = true;
        return 1;
      }
    }
    if (scanner.ScanChunk(buffer + scanned, size_t(got) - scanned)) return 1;
    total += got;
  }
  // As far as the file reached when it was opened (no read to find the end), or to its end.
  return scanner.Finish() ? 1 : -1;
}

bool find_folded(const std::string& content, const std::string& text, size_t* at, size_t* end) {
  std::vector<size_t> starts;
  std::string folded = fold_case_mapped(content, &starts);
  std::string needle = fold_case(text);
  ssize_t found = FoldedNeedle(needle).FindIn(folded.data(), folded.size());
  if (found < 0) return false;
  *at = starts[size_t(found)];
  *end = starts[size_t(found) + needle.size()];
  return true;
}
