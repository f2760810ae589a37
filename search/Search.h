// The search engine's scanning helpers: the file scan and block search, ignoring letter case
// (CaseFold.h), and the path of a ref the walk made. The walk itself is Engine.h's. The engine
// reaches files only through the platform layer's storage classes and never includes a Qt
// header, so the window and the command-line tool share it.
#pragma once

#include "platform/Directory.h"
#include "platform/File.h"
#include "platform/List.h"
#include "platform/Path.h"

// Size of the blocks whose text the scanner searches; a block's text ends at its first NUL.
constexpr size_t kSearchBlockSize = 1024;
// Bytes the file scan reads with one system call: a whole number of blocks.
constexpr size_t kScanReadSize = 64 * kSearchBlockSize;
// A file's head, for the scan's habit below: a whole number of blocks.
constexpr size_t kHeadScanSize = 4 * kSearchBlockSize;

// Where the matches of a scan of many files have lately lain, kept by each reading thread from
// file to file. When the last file it scanned matched within its first kHeadScanSize bytes (a
// text found near the top of nearly every file), the next file's first read asks for that much
// only: most such files are settled by it, and the rest is never copied. Otherwise the first
// read asks for as much as a read can take, one system call for a small file.
struct ScanHabit {
  bool matchesInHeads = false;
};

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
// The same, reading as the habit says and teaching it this file's outcome.
int32 f_seek(BFile& file, const SearchStrings& strings, off_t size, ScanHabit* habit);
// The same, keeping a copy of the file's first bytes (as many as fit in head, up to its size
// and to kHeadScanSize) from the first read, for whoever wants to know what the file starts
// with without reading it again; *headSize says how many there are.
int32 f_seek(BFile& file, const SearchStrings& strings, off_t size, ScanHabit* habit, char* head,
             size_t headCapacity, size_t* headSize);

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

// The absolute path of the entry a ref names, links not followed; an unset path when the
// entry cannot be reached.
BPath f_get_path(const entry_ref& ref);
