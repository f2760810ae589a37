#include "CaseFold.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unicode/uchar.h>
#include <unicode/uset.h>
#include <unicode/utf8.h>

#include "platform/AsciiFold.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Appends the folded form of the character c, whose UTF-8 form is p[0, length).
void fold_character(UChar32 c, const uint8_t* p, size_t length, std::string* out) {
  UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
  if (folded == c) {
    out->append(reinterpret_cast<const char*>(p), length);
    return;
  }
  char bytes[U8_MAX_LENGTH];
  int32_t written = 0;
  U8_APPEND_UNSAFE(bytes, written, folded);
  out->append(bytes, size_t(written));
}

// The number of leading ASCII bytes of p, whose folded form is appended to out.
size_t fold_ascii_run(const uint8_t* p, size_t n, std::string* out) {
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

// Folds p[0, n) and returns how many bytes it took; an unfinished character at the end is
// left for the caller when keepUnfinished is set. With starts, the offset in p of each folded
// byte's character is appended there.
size_t fold_bytes(const uint8_t* p, size_t n, bool keepUnfinished, std::string* out, std::vector<size_t>* starts) {
  size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      size_t run = fold_ascii_run(p + i, n - i, out);
      if (starts != nullptr)
        for (size_t k = 0; k < run; ++k) starts->push_back(i + k);
      i += run;
      continue;
    }
    int32_t end = int32_t(i);
    UChar32 c;
    U8_NEXT(p, end, int32_t(n), c);  // a malformed sequence: c < 0, end past its bytes
    // What the text cuts short may go on in the next piece.
    if (c < 0 && keepUnfinished && size_t(end) == n && U8_IS_LEAD(p[i])) break;
    size_t before = out->size();
    if (c >= 0) {
      fold_character(c, p + i, size_t(end) - i, out);
      if (starts != nullptr) starts->insert(starts->end(), out->size() - before, i);
    } else {
      out->append(reinterpret_cast<const char*>(p + i), size_t(end) - i);  // bytes that stand for themselves
      if (starts != nullptr)
        for (size_t k = i; k < size_t(end); ++k) starts->push_back(k);
    }
    i = size_t(end);
  }
  return i;
}

}  // namespace

void Utf8Folder::Fold(const char* text, size_t length, std::string* out) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  if (pendingLength_ > 0) {
    // The unfinished character of the last piece, with enough of this one to settle it: a
    // sequence that starts among the pending bytes ends within three more.
    uint8_t joined[sizeof pending_ + 3];
    size_t more = std::min<size_t>(3, length);
    memcpy(joined, pending_, pendingLength_);
    memcpy(joined + pendingLength_, p, more);
    size_t taken = fold_bytes(joined, pendingLength_ + more, true, out, nullptr);
    if (taken < pendingLength_) {  // this piece was too short to settle it
      memmove(pending_, joined + taken, pendingLength_ + more - taken);
      pendingLength_ = pendingLength_ + more - taken;
      return;
    }
    p += taken - pendingLength_;
    length -= taken - pendingLength_;
    pendingLength_ = 0;
  }
  size_t taken = fold_bytes(p, length, true, out, nullptr);
  memcpy(pending_, p + taken, length - taken);
  pendingLength_ = length - taken;
}

void Utf8Folder::Finish(std::string* out) {
  out->append(pending_, pendingLength_);
  pendingLength_ = 0;
}

std::string fold_case(const std::string& text) {
  std::string out;
  fold_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), false, &out, nullptr);
  return out;
}

std::string fold_case_mapped(const std::string& text, std::vector<size_t>* starts) {
  std::string out;
  starts->clear();
  fold_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), false, &out, starts);
  starts->push_back(text.size());
  return out;
}

bool needs_only_ascii_folding(const std::string& needle) {
  // The ASCII letters that some non-ASCII character folds to, from the folding data itself:
  // every character that folds to an ASCII letter is in the letters' case closure (a few dozen
  // characters, which ICU lists at once, where the set of all the characters case folding
  // changes costs it most of a millisecond to build).
  static const std::array<bool, 128> kHasWidePartner = [] {
    std::array<bool, 128> partners{};
    UErrorCode error = U_ZERO_ERROR;
    USet* closure = uset_openEmpty();
    uset_addRange(closure, 'A', 'Z');
    uset_addRange(closure, 'a', 'z');
    uset_closeOver(closure, USET_CASE_INSENSITIVE);
    for (int32_t i = 0, count = uset_getItemCount(closure); U_SUCCESS(error) && i < count; ++i) {
      UChar32 first, last;
      uset_getItem(closure, i, &first, &last, nullptr, 0, &error);
      for (UChar32 c = std::max<UChar32>(first, 0x80); c <= last; ++c) {
        UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
        if (folded < 0x80) partners[size_t(folded)] = true;
      }
    }
    uset_close(closure);
    if (U_FAILURE(error)) partners.fill(true);  // without the data, every letter folds fully
    return partners;
  }();
  for (char c : needle) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || kHasWidePartner[ascii::fold(char(byte))]) return false;
  }
  return true;
}
