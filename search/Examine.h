// What the search does with one file: whether its name or stored type lets it through, whether
// its head could be of a chosen type, whether it holds the text, and how verdicts reach the sink.
// Shared by the single-threaded walk and the pool of reading threads.
#pragma once

#include <functional>
#include <string>

#include "Documents.h"
#include "Engine.h"
#include "PieceScan.h"
#include "Search.h"
#include "platform/ContentHint.h"
#include "platform/File.h"

// What the search learnt of one file.
struct Verdict {
  bool matched = false;
  bool unsettled = false;
  // Why the file could not be read: descriptors ran out, or a document's text could not be had.
  status_t unreadable = B_OK;
  std::string accepted;  // the type that let the file through, "" when none did
  entry_ref ref;         // for a match or an unsettled file
};

// What every file of a search is read against; shared, read-only, by the threads.
struct FileRules {
  const TypeSet& types;
  const ContentTypeHint& hint;  // which heads could be of the types
  const SearchStrings& strings;
  bool reportUnsettled;
  const std::function<void()>& beforeFile;
  DocumentReader* documents = nullptr;  // when a document type is chosen
  bool otherReaders = false;  // other threads read files too, and may free a descriptor soon
  // Where other threads may take pieces of a big file (PieceScan.h); files of at least two
  // pieces are scanned so.
  const ShareScans* share = nullptr;
  off_t pieceBytes = 0;
  bool typesOfUnmatched = true;  // SearchOptions::typesOfUnmatched
};

// What the name alone tells of a file's type (BNodeInfo::GetTypeByName). With several reading
// threads the walking thread reads it as it hands files out, so that a reading thread's
// read-ahead knows which files after the one it reads are worth asking for.
struct NameType {
  status_t known = B_NO_INIT;
  char type[B_MIME_TYPE_LENGTH] = {};
};
NameType name_type_of(const BEntry& entry);

// Whether the name lets the file through to being opened and read.
bool name_admits(const NameType& byName, const FileRules& rules);

// What a reading thread keeps from file to file: the file object it reuses, and its scans' habit.
struct FileReading {
  BFile file;
  ScanHabit habit;
};

// Decides whether a regular file is a match, opening it through `reading.file` only when it
// must, and closing it before it returns.
void examine_file(const BEntry& entry, const NameType& byName, FileReading& reading, const FileRules& rules,
                  Verdict* verdict);

// Hands verdicts to the sink in walk order, reporting accepted types as SearchSink says.
class Reporter {
 public:
  explicit Reporter(SearchSink& sink) : sink_(sink) {}

  void Report(Verdict& verdict);
  void Waiting() {
    sink_.Progress(files_);
    sink_.Waiting();
  }
  int32 Matches() const { return matches_; }
  int32 Unreadable() const { return unreadable_; }
  std::string& LastAccepted() { return lastAccepted_; }

 private:
  SearchSink& sink_;
  std::string lastAccepted_;
  bool unsettledSince_ = false;
  int32 matches_ = 0;
  int32 unreadable_ = 0;
  int64 files_ = 0;
};
