#include "DocumentPhrase.h"

#include <algorithm>

#include "BlockScanner.h"
#include "CaseFold.h"

namespace {

// One UTF-8 character at text[i]: its code point and length. A byte that starts no valid
// sequence stands for itself (length 1, code point 0xFFFFFFFF), as the case folding treats it.
struct Char {
  char32_t code;
  size_t length;
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

Char decode(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b = byte(i);
  if (b < 0x80) return {b, 1};
  size_t length = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (b >= 0xF5) length = 0;
  if (length == 0 || i + length > text.size()) return {kInvalid, 1};
  char32_t code = b & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return {kInvalid, 1};
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  bool overlong = (length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF));
  if (overlong || (code >= 0xD800 && code <= 0xDFFF)) return {kInvalid, 1};
  return {code, length};
}

bool is_space(char32_t c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Soft hyphen, zero-width space and the byte-order mark: nothing a reader sees.
bool is_invisible(char32_t c) { return c == 0xAD || c == 0x200B || c == 0xFEFF; }

const char* ligature_letters(char32_t c) {
  switch (c) {
    case 0xFB00: return "ff";
    case 0xFB01: return "fi";
    case 0xFB02: return "fl";
    case 0xFB03: return "ffi";
    case 0xFB04: return "ffl";
    case 0xFB05: return "st";  // long s t
    case 0xFB06: return "st";
    default: return nullptr;
  }
}

// Letters for the hyphen rule: ASCII letters, and every character beyond ASCII (the scripts
// whose words a line end may break).
bool is_letter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c != kInvalid && !is_space(c));
}

// The white space seen since the last character kept.
struct SpaceRun {
  bool any = false;
  int lineEnds = 0;
  bool pageEnd = false;

  void Add(char32_t c) {
    any = true;
    if (c == '\n' || c == 0x2028) ++lineEnds;
    if (c == 0x2029) lineEnds += 2;
    if (c == '\f') pageEnd = true;
  }
};

// Puts out what a run of white space stands for before the character `next`.
void end_space_run(SpaceRun& run, char32_t next, char32_t beforeHyphen, DocumentText* out) {
  std::string& text = out->text;
  if (!run.any || text.empty()) {
    run = {};
    return;
  }
  char last = text.back();
  if (run.pageEnd) {
    if (last == '\n') text.back() = '\f';
    else text += '\f';
  } else if (last == '\n' || last == '\f') {
    // a paragraph or page has just ended
  } else if (run.lineEnds >= 2) {
    text += '\n';
  } else if (run.lineEnds == 1 && last == '-' && is_letter(beforeHyphen) && is_letter(next)) {
    out->lineEndHyphens.push_back(text.size() - 1);
  } else {
    text += ' ';
  }
  run = {};
}

// The text without the line-end hyphens.
std::string without_hyphens(const DocumentText& document) {
  std::string joined;
  joined.reserve(document.text.size());
  size_t from = 0;
  for (size_t hyphen : document.lineEndHyphens) {
    joined.append(document.text, from, hyphen - from);
    from = hyphen + 1;
  }
  joined.append(document.text, from, std::string::npos);
  return joined;
}

bool contains(const std::string& text, const SearchStrings& strings) {
  std::string folded;
  const std::string* seen = &text;
  if (strings.FoldsText()) {
    folded = fold_case(text);
    seen = &folded;
  }
  return std::any_of(strings.Needles().begin(), strings.Needles().end(), [&](const FoldedNeedle& needle) {
    return needle.FindIn(seen->data(), seen->size()) >= 0;
  });
}

// The offset in text of the first occurrence of needle, letter case folded, or npos.
size_t first_folded(const std::string& text, const std::string& needle) {
  size_t at, end;
  return find_folded(text, needle, &at, &end) ? at : std::string::npos;
}

}  // namespace

DocumentText normalise_document_text(const std::string& raw) {
  DocumentText out;
  out.text.reserve(raw.size());
  SpaceRun run;
  char32_t previous = 0, beforePrevious = 0;  // the last two characters kept
  for (size_t i = 0; i < raw.size();) {
    Char c = decode(raw, i);
    if (is_space(c.code)) {
      run.Add(c.code);
    } else if (!is_invisible(c.code)) {
      bool spaced = run.any;
      end_space_run(run, c.code, beforePrevious, &out);
      if (const char* letters = ligature_letters(c.code)) out.text += letters;
      else out.text.append(raw, i, c.length);
      beforePrevious = spaced ? U' ' : previous;
      previous = c.code;
    }
    i += c.length;
  }
  // The text ends its last paragraph, or its last page.
  if (!out.text.empty() && out.text.back() != '\f') {
    if (out.text.back() == '\n' && run.pageEnd) out.text.back() = '\f';
    else if (out.text.back() != '\n') out.text += run.pageEnd ? '\f' : '\n';
  }
  return out;
}

bool document_contains(const DocumentText& document, const SearchStrings& strings) {
  if (contains(document.text, strings)) return true;
  return !document.lineEndHyphens.empty() && contains(without_hyphens(document), strings);
}

bool document_paragraph_with(const DocumentText& document, const std::string& needle, std::string* paragraph,
                             size_t* offsetInParagraph, int* page) {
  // A match found only without the line-end hyphens is shown as it was found: joined.
  std::string joined;
  const std::string* text = &document.text;
  size_t at = first_folded(*text, needle);
  if (at == std::string::npos && !document.lineEndHyphens.empty()) {
    joined = without_hyphens(document);
    text = &joined;
    at = first_folded(*text, needle);
  }
  if (at == std::string::npos) return false;
  size_t start = text->find_last_of("\n\f", at);
  start = start == std::string::npos ? 0 : start + 1;
  size_t end = text->find_first_of("\n\f", at);
  *paragraph = text->substr(start, end - start);
  *offsetInParagraph = at - start;
  *page = 1 + int(std::count(text->begin(), text->begin() + long(start), '\f'));
  return true;
}
