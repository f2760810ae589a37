#include "CaseFold.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unicode/uchar.h>

#include "platform/AsciiFold.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The length of the UTF-8 sequence a lead byte starts, 0 for a byte that starts none.
size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) return 3;
  if (lead >= 0xf0 && lead <= 0xf4) return 4;
  return 0;
}

// Whether the byte that follows a lead byte may stand second in its sequence: overlong
// forms, surrogates and code points past U+10FFFF are refused here.
bool valid_second(unsigned char lead, unsigned char second) {
  unsigned char low = 0x80, high = 0xbf;
  if (lead == 0xe0) low = 0xa0;
  if (lead == 0xed) high = 0x9f;
  if (lead == 0xf0) low = 0x90;
  if (lead == 0xf4) high = 0x8f;
  return second >= low && second <= high;
}

bool is_continuation(unsigned char c) { return (c & 0xc0) == 0x80; }

// How many of the bytes at p (n of them) form a valid beginning of a sequence: the whole
// sequence's length when it is complete, or 0 when it can never be valid; a valid but
// unfinished sequence gives its length negated.
long valid_prefix(const unsigned char* p, size_t n) {
  size_t need = sequence_length(p[0]);
  if (need == 0) return 0;
  for (size_t i = 1; i < need; ++i) {
    if (i == n) return -long(i);
    if (i == 1 ? !valid_second(p[0], p[1]) : !is_continuation(p[i])) return 0;
  }
  return long(need);
}

char32_t decode(const unsigned char* p, size_t length) {
  if (length == 1) return p[0];
  char32_t c = p[0] & (0xff >> (length + 1));
  for (size_t i = 1; i < length; ++i) c = (c << 6) | (p[i] & 0x3f);
  return c;
}

void encode(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += char(c);
  } else if (c < 0x800) {
    *out += char(0xc0 | (c >> 6));
    *out += char(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    *out += char(0xe0 | (c >> 12));
    *out += char(0x80 | ((c >> 6) & 0x3f));
    *out += char(0x80 | (c & 0x3f));
  } else {
    *out += char(0xf0 | (c >> 18));
    *out += char(0x80 | ((c >> 12) & 0x3f));
    *out += char(0x80 | ((c >> 6) & 0x3f));
    *out += char(0x80 | (c & 0x3f));
  }
}

// Appends the folded form of one complete sequence.
void fold_sequence(const unsigned char* p, size_t length, std::string* out) {
  char32_t c = decode(p, length);
  char32_t folded = char32_t(u_foldCase(UChar32(c), U_FOLD_CASE_DEFAULT));
  if (folded == c)
    out->append(reinterpret_cast<const char*>(p), length);
  else
    encode(folded, out);
}

// The number of leading ASCII bytes of p, whose folded form is appended to out.
size_t fold_ascii_run(const unsigned char* p, size_t n, std::string* out) {
  size_t i = 0;
  size_t start = out->size();
#ifdef __SSE2__
  out->resize(start + n);
  char* to = out->data() + start;
  const __m128i beforeA = _mm_set1_epi8('A' - 1), afterZ = _mm_set1_epi8('Z' + 1), bit = _mm_set1_epi8(0x20);
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (_mm_movemask_epi8(v) != 0) break;  // a byte of 0x80 or more
    __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, beforeA), _mm_cmplt_epi8(v, afterZ));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_or_si128(v, _mm_and_si128(upper, bit)));
  }
  out->resize(start + i);
#endif
  for (; i < n && p[i] < 0x80; ++i) *out += char(ascii::fold(char(p[i])));
  return i;
}

// Folds p[0, n) and returns how many bytes it took; an unfinished sequence at the end is left
// for the caller when keepUnfinished is set.
size_t fold_bytes(const unsigned char* p, size_t n, bool keepUnfinished, std::string* out,
                  std::vector<size_t>* starts, size_t base) {
  size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      size_t run = fold_ascii_run(p + i, n - i, out);
      if (starts != nullptr)
        for (size_t k = 0; k < run; ++k) starts->push_back(base + i + k);
      i += run;
      continue;
    }
    long length = valid_prefix(p + i, n - i);
    if (length < 0 && keepUnfinished) break;
    size_t before = out->size();
    if (length > 0) {
      fold_sequence(p + i, size_t(length), out);
    } else {
      *out += char(ascii::fold(char(p[i])));  // stands for itself
      length = 1;
    }
    if (starts != nullptr) starts->insert(starts->end(), out->size() - before, base + i);
    i += size_t(length);
  }
  return i;
}

}  // namespace

void Utf8Folder::Fold(const char* text, size_t length, std::string* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (pendingLength_ > 0) {
    // The unfinished character of the last piece, with enough of this one to settle it: a
    // sequence that starts among the pending bytes ends within three more.
    unsigned char joined[sizeof pending_ + 3];
    size_t more = std::min<size_t>(3, length);
    memcpy(joined, pending_, pendingLength_);
    memcpy(joined + pendingLength_, p, more);
    size_t taken = fold_bytes(joined, pendingLength_ + more, true, out, nullptr, 0);
    if (taken < pendingLength_) {  // this piece was too short to settle it
      memmove(pending_, joined + taken, pendingLength_ + more - taken);
      pendingLength_ = pendingLength_ + more - taken;
      return;
    }
    p += taken - pendingLength_;
    length -= taken - pendingLength_;
    pendingLength_ = 0;
  }
  size_t taken = fold_bytes(p, length, true, out, nullptr, 0);
  memcpy(pending_, p + taken, length - taken);
  pendingLength_ = length - taken;
}

void Utf8Folder::Finish(std::string* out) {
  out->append(pending_, pendingLength_);
  pendingLength_ = 0;
}

std::string fold_case(const std::string& text) {
  std::string out;
  fold_bytes(reinterpret_cast<const unsigned char*>(text.data()), text.size(), false, &out, nullptr, 0);
  return out;
}

std::string fold_case_mapped(const std::string& text, std::vector<size_t>* starts) {
  std::string out;
  starts->clear();
  fold_bytes(reinterpret_cast<const unsigned char*>(text.data()), text.size(), false, &out, starts, 0);
  starts->push_back(text.size());
  return out;
}

bool needs_only_ascii_folding(const std::string& needle) {
  // The ASCII letters that some non-ASCII character folds to, from the folding data itself.
  static const std::array<bool, 128> kHasWidePartner = [] {
    std::array<bool, 128> partners{};
    for (UChar32 c = 0x80; c <= 0x10ffff; ++c) {
      UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
      if (folded < 0x80) partners[size_t(folded)] = true;
    }
    return partners;
  }();
  for (char c : needle) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || kHasWidePartner[ascii::fold(char(byte))]) return false;
  }
  return true;
}
