// The walk: folders listed depth first, their regular files examined in its order, on this
// thread or by the file pool.
#include "Engine.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <sys/stat.h>

#include "Examine.h"
#include "FilePool.h"
#include "TextCache.h"
#include "platform/AsciiFold.h"
#include "platform/Process.h"

TypeSet::TypeSet(const std::vector<std::string>& names) {
  for (const std::string& name : names) folded_.insert(ascii::folded(name));
}

bool TypeSet::Contains(const char* type) const { return folded_.count(ascii::folded(type)) > 0; }

bool TypeSet::HasDocuments() const {
  return std::any_of(folded_.begin(), folded_.end(),
                     [](const std::string& type) { return document_kind_of(type.c_str()) != DocumentKind::kNone; });
}

namespace {

// How many folders of the current path the walk keeps open at once, and how many the pool's
// batches may hold: a quarter of the descriptor limit each, so that the rest of the program
// keeps room, and at most 256.
size_t open_folder_budget() {
  size_t limit = descriptor_limit();
  return limit == 0 ? 256 : std::clamp<size_t>(limit / 4, 2, 256);
}

// How many threads may read files within the descriptors left. Besides the folders the walk
// holds open, the batches in flight and the one being filled may each hold up to the budget
// of folders the walk has left, and every reader holds a file and one more for read-ahead. A
// limit too tight for two readers gets one: the walking thread alone, as with one thread.
int threads_within_descriptors(int wanted, size_t budget) {
  size_t limit = descriptor_limit();
  if (wanted <= 1 || limit == 0) return wanted;
  size_t open = open_descriptor_count();
  size_t spare = limit > open ? limit - open : 0;
  size_t folders = 3 * budget;
  constexpr size_t kPerReader = 2;
  if (spare < folders + 2 * kPerReader) return 1;
  return int(std::min<size_t>(size_t(wanted), (spare - folders) / kPerReader));
}

// The folders from the top of the walk down to the one being listed. Only the deepest few
// hold descriptors; the ones above are suspended and reopened through ".." on the way back up,
// so neither the descriptor limit nor the stack bounds the depth of a tree.
class FolderPath {
 public:
  FolderPath(BDirectory& top, size_t budget) : top_(top), budget_(budget) {}

  BDirectory& Current() { return below_.empty() ? top_ : *below_.back(); }
  bool AtTop() const { return below_.empty(); }

  // Opens the sub-folder the entry names and makes it current; the status of the open.
  status_t Enter(const BEntry& entry) {
    if (open_ >= budget_) SuspendOldest();
    auto folder = std::make_unique<BDirectory>();
    status_t status;
    while (out_of_descriptors(status = folder->SetTo(&entry)) && SuspendOldest()) {
    }
    if (status != B_OK) return status;
    below_.push_back(std::move(folder));
    ++open_;
    return B_OK;
  }

  // Leaves the current folder for its parent, reopening the parent when it was suspended.
  status_t Leave() {
    std::unique_ptr<BDirectory> child = std::move(below_.back());
    below_.pop_back();
    --open_;
    BDirectory& parent = Current();
    if (!parent.IsSuspended()) return B_OK;
    status_t status = parent.ResumeFromChild(*child);
    if (status == B_OK) ++open_;
    return status;
  }

 private:
  // Suspends the shallowest open folder below the top; false when none is left to suspend.
  bool SuspendOldest() {
    for (auto& folder : below_) {
      if (folder->IsSuspended() || folder.get() == &Current()) continue;
      folder->Suspend();
      --open_;
      return true;
    }
    return false;
  }

  BDirectory& top_;
  std::vector<std::unique_ptr<BDirectory>> below_;
  size_t budget_;
  size_t open_ = 0;  // folders below the top that hold a descriptor
};

// The walk itself: lists folders and hands each regular file to `file` in walk order.
template <typename FileFn>
status_t walk(BDirectory& top, size_t budget, const std::atomic<bool>* stop, FileFn file) {
  FolderPath path(top, budget);
  BEntry entry;
  char name[B_FILE_NAME_LENGTH];
  struct stat st;
  status_t trouble = B_OK;
  top.Rewind();  // the walk starts at the first entry whatever the folder's position
  for (;;) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return B_CANCELED;
    BDirectory& folder = path.Current();
    if (folder.GetNextEntry(&entry, false) != B_OK) {
      // The end of the folder, or an iteration that failed: go on in the folder above.
      entry.Unset();
      if (path.AtTop()) break;
      if (status_t status = path.Leave(); status != B_OK) {
        trouble = status;  // the folder above changed under the walk, or cannot be reopened
        break;
      }
      continue;
    }
    // The listing tells the kind on most file systems; elsewhere the status does. An entry
    // whose status cannot be read (it vanished, or permission was refused) is passed over,
    // like any entry that is neither a regular file nor a folder.
    entry_kind kind = folder.LastEntryKind();
    if (kind == entry_kind::unknown) {
      if (entry.GetName(name) != B_OK || folder.GetStatFor(name, &st) != B_OK) continue;
      kind = kind_of(st);
    }
    if (kind == entry_kind::file) {
      file(entry, folder);
    } else if (kind == entry_kind::folder) {
      // A folder that does not open lists no entries and adds nothing; one that cannot be
      // opened for lack of descriptors is reported.
      if (status_t status = path.Enter(entry); out_of_descriptors(status)) trouble = status;
    }
  }
  return trouble;
}

}  // namespace

SearchOutcome search_folder(BDirectory& folder, const TypeSet& types, const SearchStrings& strings,
                            SearchSink& sink, const SearchOptions& options) {
  CLocaleOnThisThread plainNames;
  ContentTypeHint hint(types.Folded());
  FileRules rules{types, hint, strings, options.reportUnsettled, options.beforeFile};
  std::unique_ptr<TextCache> cache;
  std::unique_ptr<DocumentReader> documents;
  if (types.HasDocuments()) {
    std::string extractor = pdf_extractor_path();
    if (options.documentCache)
      cache = std::make_unique<TextCache>(TextCache::DefaultFolder(), TextCache::DefaultLimit(),
                                          pdf_extractor_version(extractor));
    documents = std::make_unique<DocumentReader>(cache.get(), extractor, options.stop, options.documentLimits);
    rules.documents = documents.get();
  }
  Reporter reporter(sink);
  size_t budget = open_folder_budget();
  int threads = threads_within_descriptors(options.threads > 0 ? options.threads : available_cpus(), budget);
  rules.otherReaders = threads > 1;
  rules.pieceBytes = options.pieceBytes;
  rules.typesOfUnmatched = options.typesOfUnmatched || options.reportUnsettled;
  SearchOutcome outcome;
  if (threads == 1) {
    FileReading reading;
    outcome.incomplete = walk(folder, budget, options.stop, [&](const BEntry& entry, BDirectory&) {
      Verdict verdict;
      examine_file(entry, name_type_of(entry), reading, rules, &verdict);
      reporter.Report(verdict);
    });
  } else {
    double started = thread_cpu_seconds();
    FilePool pool(threads, rules, reporter, budget, options.stop);
    outcome.incomplete = walk(folder, budget, options.stop, [&](const BEntry& entry, BDirectory& in) {
      pool.Add(entry, in.Handle().get());
    });
    pool.Finish();
    outcome.threads = pool.Threads();
    outcome.handedOn = pool.HandedOn();
    outcome.filesInPieces = pool.FilesInPieces();
    outcome.sequentialSeconds = thread_cpu_seconds() - started - pool.ReadingSeconds();
  }
  if (options.stop != nullptr && options.stop->load()) outcome.incomplete = B_CANCELED;
  outcome.matches = reporter.Matches();
  outcome.unreadable = reporter.Unreadable();
  outcome.lastAccepted = std::move(reporter.LastAccepted());
  if (documents) {
    outcome.documentsExtracted = documents->Extracted();
    outcome.documentsFromCache = documents->FromCache();
  }
  return outcome;
}
