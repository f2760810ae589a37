// The search engine: finds, under a folder, the files of chosen MIME types whose contents
// contain a text, ignoring letter case (CaseFold.h). It reaches files only through the platform
// layer's storage classes and never includes a Qt header, so the window and the command-line
// tool share it.
#pragma once

#include "platform/Directory.h"
#include "platform/File.h"
#include "platform/List.h"
#include "platform/Path.h"

#include <vector>

// Size of the blocks whose text the scanner searches; a block's text ends at its first NUL.
constexpr size_t kSearchBlockSize = 1024;

// File scan: 1 when the file, read from its current position to its end, contains one of the
// search strings (a BList of char*, UTF-8), -1 when it does not or a read fails. The file is
// read in blocks of kSearchBlockSize bytes; a block's text ends at its first NUL, and a match
// may run from one block's text into the next. Letter case is folded in every script
// (CaseFold.h), in time linear in the file whatever the strings' length.
int32 f_seek(BFile& file, BList& strings);
// The same for a file read from its start whose size is known: the scan ends after that many
// bytes instead of with a read that finds the end (a file that grew meanwhile is read as far
// as it reached). A negative size reads to the end.
int32 f_seek(BFile& file, BList& strings, off_t size);
// The same with the strings made ready once (BlockScanner.h), for a walk that scans many files.
class SearchStrings;
int32 f_seek(BFile& file, const SearchStrings& strings, off_t size);

// Block search of a NUL-terminated text for a pattern, ignoring ASCII letter case (the file
// scan folds every script and no longer goes through this):
//   0 or more  the offset of the first occurrence; the pattern pointer is unchanged;
//   -2         no occurrence, but the text ends inside an attempt that matched at least one
//              character: the pattern now points past the matched characters (the tail);
//   -1         neither; the pattern pointer is unchanged.
// An empty pattern gives 0 at once.
int32 f_seek(const char* text, char*& pattern);

// True when prefix is a prefix of string, letter case counting.
bool f_match(const char* string, const char* prefix);

// Walks the folder depth first, pre-order, without following links, and appends a new
// entry_ref (the caller frees it) to results for every regular file whose type is in types
// (a BList of BMenuItem*, labels compared ignoring case) and whose content contains one of the
// strings. Returns the number of refs appended by this call and its sub-folders.
// The walk keeps only a few folders of its path open and holds no recursion, so any depth is
// walked within the descriptor limit.
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings);
// The same; incomplete is set to B_OK, or to the reason part of the tree could not be walked
// (descriptors ran out, or a folder changed under the walk so that it could not go back up).
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete);

// The files a search passed over without telling their types (their text was not found,
// and only their content could tell), after the last file whose type it accepted. Each could
// still move a type to the front of the list, and telling their types costs a content guess
// each, more than the search itself when there are many. A list's order is seen only where it
// is saved, so a caller may keep them here and settle the list when it needs the order.
class PendingTypeOrder {
 public:
  bool IsEmpty() const { return refs_.empty(); }
  // Types the files from the last back until one is accepted: the list ends as though the
  // search had typed every file.
  void Settle(BList& types);
  // For a list about to be replaced.
  void Drop() { refs_.clear(); }

 private:
  friend int32 f_dirsearch_BMI(BDirectory&, BList&, BList&, BList&, status_t*, PendingTypeOrder*);
  std::vector<entry_ref> refs_;
};

// f_dirsearch_BMI that leaves the list's last rotations pending: the list is as the search
// left it once pending is settled. A pending order from an earlier search of the same list is
// carried on (the list must not have changed meanwhile).
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete, PendingTypeOrder* pending);

// True when the label of an item of types equals type, ignoring case. The items before the
// matching one move, in their order, to the end of the list, so the type just found comes
// first for the next file; without a match the list is unchanged.
bool f_check_MIME(char* type, BList& types);

// The absolute path of the entry a ref names, links not followed; an unset path when the
// entry cannot be reached.
BPath f_get_path(const entry_ref& ref);
