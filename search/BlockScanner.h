// The state of one file scan between blocks: the search strings, and the tails of partial
// matches that ran into the end of the previous block's text.
#pragma once

#include <vector>

#include "platform/List.h"

class BlockScanner {
 public:
  // strings: a BList of NUL-terminated char*, which must outlive the scanner.
  explicit BlockScanner(const BList& strings);

  // Searches one block of at most kSearchBlockSize bytes, whose text ends at its first NUL.
  // True when a search string completes in this block, by a carried tail or by a whole
  // occurrence. Otherwise the carried list afterwards holds, in order, the tails that
  // survived this block, then the tails of every partial match of each string that runs into
  // the end of the text, string by string and earliest first.
  //
  // Invariants: a tail points into its search string and never at its terminating NUL, so a
  // string of n characters has at most n-1 tails carried at once.
  bool Scan(const char* block, size_t size);

  // Searches a run of whole blocks that holds no NUL byte, as Scan would block by block, and
  // returns the index of the block in which a match completes, or -1. Afterwards the carried
  // list is what Scan would have left after the run's last block.
  ssize_t ScanRun(const char* text, size_t blocks);

  const std::vector<const char*>& Carried() const { return carried_; }

 private:
  struct Needle {
    const char* text;
    size_t length;
  };

  bool ScanTails(const char* text, size_t length);
  bool ScanNeedle(const Needle& needle, const char* text, size_t length);
  void CarryPartials(const Needle& needle, const char* text, size_t length);

  std::vector<Needle> needles_;
  // True when no tail can outlive a whole block (no string is longer than a block plus one),
  // so a run of whole blocks can be searched as one text.
  bool runsAsOneText_ = true;
  std::vector<const char*> carried_;
  std::vector<const char*> next_;
};

// Shared with the block search, all ignoring case, over text[0, length) and a pattern of
// patternLength characters (at least 1):
// the first offset at which the whole pattern occurs, or -1;
ssize_t find_whole(const char* text, size_t length, const char* pattern, size_t patternLength);
// the first offset, from `from` on, at which the text ends inside an occurrence (the rest of
// the text is a proper prefix of the pattern), or -1.
ssize_t find_partial(const char* text, size_t length, const char* pattern, size_t patternLength,
                     size_t from);
