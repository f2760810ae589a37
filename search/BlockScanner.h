// One file scan, block by block. A block's text ends at its first NUL byte, and a match may
// run from the end of one block's text into the next: so the scan looks for the search
// strings in the stream of the blocks' texts, one after the other, with letter case folded
// (CaseFold.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CaseFold.h"
#include "platform/List.h"

// A folded needle, ready to be looked for in folded text, in time linear in the text whatever
// the needle's length: a fast filtered search inside a piece of text, and the needle's border
// table (Knuth-Morris-Pratt) for what runs across pieces or where the filter would do too
// much work. Made once per search; it holds no state of a scan.
class FoldedNeedle {
 public:
  explicit FoldedNeedle(std::string folded);
  // The offset of the first occurrence in text alone, or -1.
  ssize_t FindIn(const char* text, size_t length) const;
  // The next piece of a stream: `matched` is the length of the needle's longest prefix that
  // ends the stream so far, and is brought up to date. True when an occurrence ends in this
  // piece, counting the pieces before it; an empty needle is found at once.
  bool Feed(size_t* matched, const char* text, size_t length) const;
  // The folded needle's length in bytes.
  size_t Length() const { return needle_.size(); }

 private:
  size_t Step(size_t state, char c) const;
  // The first offset at or after `from` at which an occurrence ends (one past it), or -1.
  ssize_t Automaton(const char* text, size_t length, size_t from) const;

  std::string needle_;
  std::vector<uint32_t> border_;  // border_[i]: the longest proper border of needle_[0, i]
};

// Where text first occurs in content, letter case folded as the scan folds it: the offsets in
// content of the match's first byte and of the byte after it; false when it does not occur.
bool find_folded(const std::string& content, const std::string& text, size_t* at, size_t* end);

// The search strings of one search, folded and ready: made once, shared by every file scan.
class SearchStrings {
 public:
  // strings: a BList of NUL-terminated char*, taken as UTF-8.
  explicit SearchStrings(const BList& strings);
  const std::vector<FoldedNeedle>& Needles() const { return needles_; }
  // Whether the text must be folded whole before the needles see it; otherwise folding ASCII
  // letters as they compare finds the same (CaseFold.h's needs_only_ascii_folding).
  bool FoldsText() const { return foldsText_; }

 private:
  std::vector<FoldedNeedle> needles_;
  bool foldsText_ = false;
};

class BlockScanner {
 public:
  // strings must outlive the scanner.
  explicit BlockScanner(const SearchStrings& strings);

  // Searches one block of at most kSearchBlockSize bytes, whose text ends at its first NUL;
  // true when a search string completes in it.
  bool Scan(const char* block, size_t size);
  // Searches a run of whole blocks that holds no NUL byte, as Scan would block by block.
  bool ScanRun(const char* text, size_t blocks);
  // Searches what one read brought, whole blocks and perhaps a last short one, as Scan would
  // block by block.
  bool ScanChunk(const char* chunk, size_t size);
  // Searches text of the stream as it stands, which no NUL ends: what the blocks before a piece
  // of a file carry into it, when that piece is scanned on its own.
  bool ScanCarried(const char* text, size_t length) { return Feed(text, length); }
  // At the end of the file: the bytes of a character the file leaves unfinished stand for
  // themselves; true when that completes a search string.
  bool Finish();

 private:
  bool Feed(const char* text, size_t length);
  bool FeedFolded(const char* text, size_t length);

  const SearchStrings& strings_;
  std::vector<size_t> matched_;  // per needle, what Feed carries from one piece to the next
  Utf8Folder folder_;
  std::string folded_;
};

// Shared with the block search, all ignoring ASCII letter case, over text[0, length) and a
// pattern of patternLength characters (at least 1):
// the first offset at which the whole pattern occurs, or -1;
ssize_t find_whole(const char* text, size_t length, const char* pattern, size_t patternLength);
// the first offset, from `from` on, at which the text ends inside an occurrence (the rest of
// the text is a proper prefix of the pattern), or -1.
ssize_t find_partial(const char* text, size_t length, const char* pattern, size_t patternLength,
                     size_t from);
