// Letter case folding for the search: Unicode simple case folding (the C and S mappings of
// the Unicode Character Database, as ICU's u_foldCase gives them) wherever the text is valid
// UTF-8; any byte that is not part of a valid UTF-8 sequence (Latin-1 text, binary data)
// stands for itself, ASCII letters folded. "ÉCOLE" folds to "école", "ПРИВЕТ" to "привет",
// KELVIN SIGN to "k", LONG S to "s"; "ß" stays "ß" (its folding to "ss" is not simple).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Folds a stream of text given in pieces: a character split between two pieces is folded
// whole. The folded bytes are appended to out.
class Utf8Folder {
 public:
  void Fold(const char* text, size_t length, std::string* out);
  // The bytes of an unfinished character at the end of the stream, as they stand.
  void Finish(std::string* out);
  // Whether the pieces so far end inside a character.
  bool HasPending() const { return pendingLength_ > 0; }

 private:
  char pending_[4];
  size_t pendingLength_ = 0;
};

// The folded form of a whole text.
std::string fold_case(const std::string& text);

// The folded form of a whole text, and for every byte of it the offset in text of the
// character it comes from; starts gets one more entry, text's length.
std::string fold_case_mapped(const std::string& text, std::vector<size_t>* starts);

// True when folding ASCII letters alone finds exactly what full folding finds for this
// needle: it is all ASCII, and none of its letters is the folding of a non-ASCII character
// (as "k" is of KELVIN SIGN and "s" of LONG S).
bool needs_only_ascii_folding(const std::string& needle);
