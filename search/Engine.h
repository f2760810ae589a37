// The search engine's own interface: a search of a folder for the files of a set of types whose
// contents contain one of the search strings. Files are opened, typed and scanned by a pool of
// threads, yet everything the search finds reaches its sink in the order of a sequential
// depth-first walk, on the thread that called search_folder. The threads are the engine's
// own: none outlives a search, and none calls the sink.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Documents.h"
#include "platform/Directory.h"
#include "platform/Entry.h"

class SearchStrings;

// The type names a search accepts, compared ignoring ASCII letter case; fixed for the search.
class TypeSet {
 public:
  explicit TypeSet(const std::vector<std::string>& names);
  bool Contains(const char* type) const;
  bool IsEmpty() const { return folded_.empty(); }
  // The names, in lower case.
  std::vector<std::string> Folded() const { return {folded_.begin(), folded_.end()}; }
  // Whether one of the types is a document's (Documents.h).
  bool HasDocuments() const;

 private:
  std::unordered_set<std::string> folded_;
};

// What a search finds, in walk order.
class SearchSink {
 public:
  virtual ~SearchSink() = default;
  // A regular file of an accepted type that contains one of the strings.
  virtual void Matched(entry_ref&& ref) = 0;
  // A file whose type was accepted. Reported when it differs, ignoring case, from the type
  // reported before it, or when files were reported unsettled since: enough to replay the
  // order in which a list of types would have met them.
  virtual void TypeAccepted(const char* /*type*/) {}
  // Only with SearchOptions::reportUnsettled: a file whose type only its content could tell,
  // left untold because its text was not found (telling it costs more than the scan). Whoever
  // needs every accepted type asks BNodeInfo::GetTypeFromContent itself.
  virtual void TypeUnsettled(entry_ref&& /*ref*/) {}
  // A file of an accepted type, or one whose type could only be read from it, that could not
  // be read: the descriptors ran out and none came free in time, or it is a document whose
  // text could not be had (damaged, encrypted, over a limit, its extractor too slow). It is
  // no match.
  virtual void Unreadable(entry_ref&& /*ref*/, status_t /*why*/) {}
  // Everything found so far has been reported, and the search waits for files being read:
  // a moment to flush what was reported.
  virtual void Waiting() {}
  // How many regular files the search has reported on so far, matches or not: after every
  // kProgressEvery of them, and before each Waiting.
  virtual void Progress(int64 /*files*/) {}
  static constexpr int64 kProgressEvery = 1024;
};

struct SearchOptions {
  // How many threads read files: 0 for every processor this process may run on; 1 for a plain
  // single-threaded search on the caller's thread. Fewer run when the descriptor limit leaves
  // no room for more, or the system will not start them; the results are the same.
  int threads = 0;
  // Set by another thread to end the search: no more files are read, and nothing more
  // reaches the sink. Checked between files.
  const std::atomic<bool>* stop = nullptr;
  bool reportUnsettled = false;
  // Whether the sink hears TypeAccepted for the files that do not match too, as the window's
  // type list needs. Without it (and without reportUnsettled), a file whose name lets it
  // through is scanned before its stored type is read, and that read is left out when the text
  // is not there: one system call fewer for most files.
  bool typesOfUnmatched = true;
  // Called on the reading thread before each file is read; tests slow threads down with it.
  std::function<void()> beforeFile;
  // Documents' text is kept between searches in TextCache::DefaultFolder(), unless this is
  // false; the bounds of each extraction.
  bool documentCache = true;
  DocumentLimits documentLimits;
  // With several threads, a file of at least two pieces of this many bytes (a whole number of
  // kSearchBlockSize blocks) is scanned piece by piece by whichever threads are free; tests
  // make the pieces small.
  off_t pieceBytes = 4 << 20;
};

struct SearchOutcome {
  // B_OK, B_CANCELED when stopped, or why part of the tree could not be walked (descriptors
  // ran out, or a folder changed under the walk so that it could not go back up).
  status_t incomplete = B_OK;
  int32 matches = 0;
  int32 unreadable = 0;  // files reported to SearchSink::Unreadable
  int threads = 1;       // the threads that read files
  std::string lastAccepted;  // the type of the last file accepted, "" when none was
  // With several threads: the CPU time the walking thread spent on what no other thread can
  // do (listing folders, handing files over, reporting in order), for the benchmark.
  double sequentialSeconds = 0;
  // With several threads: how often a reader handed the files after a long one on to an idle
  // thread, for the tests and the benchmark.
  int32 handedOn = 0;
  // With several threads: how many big files were scanned in pieces (SearchOptions::pieceBytes).
  int32 filesInPieces = 0;
  // Documents whose text was extracted, and those whose text came from the cache.
  int64 documentsExtracted = 0;
  int64 documentsFromCache = 0;
};

// Walks the folder depth first, pre-order, from its first entry, without following links.
// The walk keeps only a few folders of its path open and holds no recursion, so any depth is
// walked within the descriptor limit.
SearchOutcome search_folder(BDirectory& folder, const TypeSet& types, const SearchStrings& strings,
                            SearchSink& sink, const SearchOptions& options = {});
