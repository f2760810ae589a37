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

// A folded needle looked for in a stream of folded text given in pieces, in time linear in
// the stream whatever the needle's length: a fast filtered search inside each piece, and the
// needle's border table (Knuth-Morris-Pratt) for what runs across pieces or where the filter
// would do too much work.
class StreamNeedle {
 public:
  explicit StreamNeedle(std::string folded);
  // True when an occurrence ends in this piece, counting the pieces before it; an empty
  // needle is found at once.
  bool Feed(const char* text, size_t length);
  // The offset of the first occurrence in text alone, or -1.
  ssize_t FindIn(const char* text, size_t length) const;

 private:
  size_t Step(size_t state, char c) const;
  // The first offset at or after `from` at which an occurrence ends (one past it), or -1.
  ssize_t Automaton(const char* text, size_t length, size_t from) const;

  std::string needle_;
  std::vector<uint32_t> border_;  // border_[i]: the longest proper border of needle_[0, i]
  size_t matched_ = 0;             // the needle's longest prefix that ends the stream so far
};

class BlockScanner {
 public:
  // strings: a BList of NUL-terminated char*, taken as UTF-8 and folded.
  explicit BlockScanner(const BList& strings);

  // Searches one block of at most kSearchBlockSize bytes, whose text ends at its first NUL;
  // true when a search string completes in it.
  bool Scan(const char* block, size_t size);
  // Searches a run of whole blocks that holds no NUL byte, as Scan would block by block.
  bool ScanRun(const char* text, size_t blocks);
  // At the end of the file: the bytes of a character the file leaves unfinished stand for
  // themselves; true when that completes a search string.
  bool Finish();

 private:
  bool Feed(const char* text, size_t length);
  bool FeedFolded(const char* text, size_t length);

  std::vector<StreamNeedle> needles_;
  // Whether the text must be folded whole first; otherwise folding ASCII letters as the
  // needles are compared finds the same (CaseFold.h's needs_only_ascii_folding).
  bool foldText_ = false;
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
