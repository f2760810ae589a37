// The walk, the type filter and the pool of threads that reads files in the walk's order.
#include "Engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "BlockScanner.h"
#include "Search.h"
#include "platform/AsciiFold.h"
#include "platform/ContentHint.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/NodeInfo.h"

TypeSet::TypeSet(const std::vector<std::string>& names) {
  for (const std::string& name : names) folded_.insert(ascii::folded(name));
}

bool TypeSet::Contains(const char* type) const { return folded_.count(ascii::folded(type)) > 0; }

namespace {

// What the search learnt of one file.
struct Verdict {
  bool matched = false;
  bool unsettled = false;
  status_t unreadable = B_OK;  // why the file could not be opened, when that was for want of descriptors
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
  bool otherReaders = false;  // other threads read files too, and may free a descriptor soon
};

// Files read before their type is known (below) are at most this big; a larger one has its
// type settled from its head first, so that a big binary file is not read through.
constexpr off_t kContentFirstLimit = 1 << 20;

// Whether a type lookup's outcome keeps the file out: a type not selected, no type, or no type
// selected at all.
bool type_refuses(const FileRules& rules, status_t known, bool selected) {
  return known == B_OK ? !selected : known != B_TYPE_NEEDS_CONTENT || rules.types.IsEmpty();
}

// Whether the name lets the file through to being opened and read.
bool name_admits(const BEntry& entry, const FileRules& rules) {
  char type[B_MIME_TYPE_LENGTH];
  status_t known = BNodeInfo::GetTypeByName(entry, type);
  return !type_refuses(rules, known, known == B_OK && rules.types.Contains(type));
}

// Opens a regular file for reading. With other reading threads, a descriptor that ran out is
// waited for a little: another thread is about to close its file. Past that, or alone, the
// failure stands, and is reported.
status_t open_regular(BFile& file, const BEntry& entry, struct stat* st, bool othersMayFree) {
  const int attempts = othersMayFree ? 50 : 1;
  constexpr std::chrono::milliseconds kPause{2};
  status_t status = file.SetToRegular(&entry, st);
  for (int tries = 1; out_of_descriptors(status) && tries < attempts; ++tries) {
    std::this_thread::sleep_for(kPause);
    status = file.SetToRegular(&entry, st);
  }
  return status;
}

// Decides whether a regular file is a match, opening it only when it must. A type the
// attribute or the name gives is filtered before the file is opened. A file whose name leaves
// its type open is read first when small (a file without the text is no match whatever its
// type, so most never need their type), and its type is settled from its head only when the
// text is found.
void examine_file(const BEntry& entry, BFile& file, const FileRules& rules, Verdict* verdict) {
  if (rules.beforeFile) rules.beforeFile();
  char type[B_MIME_TYPE_LENGTH];
  // The stored type wins over the name. A file the name already makes a candidate has it read
  // once open, from the descriptor, which costs no second lookup of the name (and on kernels
  // before getxattrat(2), no lookup of a /proc path); only a name that refuses the file needs
  // it read by name, since the stored type might accept it.
  status_t known = BNodeInfo::GetTypeByName(entry, type);
  bool selected = known == B_OK && rules.types.Contains(type);
  // Whether a pattern of the database matches the name, for the hint below.
  bool namePatterns = known == B_TYPE_NEEDS_CONTENT && strcmp(type, BNodeInfo::kNoPatternType) != 0;
  bool storedTypeUnread = true;
  if (type_refuses(rules, known, selected)) {
    storedTypeUnread = false;
    if (BNodeInfo::GetStoredType(entry, type) == B_OK) {
      known = B_OK;
      selected = rules.types.Contains(type);
    }
  }
  if (type_refuses(rules, known, selected)) return;  // a type not selected, no type, or no type selected
  struct stat st;
  // Never a link's target, and never what is no longer a regular file.
  if (status_t status = open_regular(file, entry, &st, rules.otherReaders); status != B_OK) {
    if (out_of_descriptors(status) && entry.GetRef(&verdict->ref) == B_OK) verdict->unreadable = status;
    return;
  }
  if (storedTypeUnread && BNodeInfo::GetStoredType(file, type) == B_OK) {
    known = B_OK;
    if (!rules.types.Contains(type)) {
      file.Unset();
      return;
    }
  }
  // Whether the head could give one of the types: most heads cannot, and saying so costs a
  // few comparisons where a guess tries every type's rules.
  auto could_be_accepted = [&] {
    if (rules.hint.RefusesNothing()) return true;
    uint8_t head[ContentTypeHint::kHeadSize];
    ssize_t got = rules.hint.NeedsHead() ? pread(file.Descriptor(), head, sizeof head, 0) : 0;
    return got < 0 || rules.hint.CouldBeOneOf(namePatterns, head, size_t(got));
  };
  // The type from the file's head, through the filter.
  auto head_accepted = [&] {
    if (!could_be_accepted()) return false;
    bool accepted = BNodeInfo::GetTypeFromContent(file, st, type) == B_OK && rules.types.Contains(type);
    if (accepted) verdict->accepted = type;
    return accepted;
  };
  if (known == B_OK) {
    verdict->accepted = type;
    verdict->matched = f_seek(file, rules.strings, st.st_size) == 1;
  } else if (st.st_size <= kContentFirstLimit) {
    verdict->matched = f_seek(file, rules.strings, st.st_size) == 1;
    if (verdict->matched) verdict->matched = head_accepted();
    else verdict->unsettled = rules.reportUnsettled && could_be_accepted();
  } else {
    verdict->matched = head_accepted() && f_seek(file, rules.strings, st.st_size) == 1;
  }
  // Closing now keeps the walk's descriptors to its folders.
  file.Unset();
  if ((verdict->matched || verdict->unsettled) && entry.GetRef(&verdict->ref) != B_OK)
    verdict->matched = verdict->unsettled = false;
}

// Hands verdicts to the sink in walk order, reporting accepted types as SearchSink says.
class Reporter {
 public:
  explicit Reporter(SearchSink& sink) : sink_(sink) {}

  void Report(Verdict& verdict) {
    if (++files_ % SearchSink::kProgressEvery == 0) sink_.Progress(files_);
    if (!verdict.accepted.empty()) {
      if (unsettledSince_ || ascii::casecmp(verdict.accepted.c_str(), lastAccepted_.c_str()) != 0) {
        sink_.TypeAccepted(verdict.accepted.c_str());
        unsettledSince_ = false;
      }
      lastAccepted_ = std::move(verdict.accepted);
    }
    if (verdict.unreadable != B_OK) {
      sink_.Unreadable(std::move(verdict.ref), verdict.unreadable);
      ++unreadable_;
    } else if (verdict.unsettled) {
      sink_.TypeUnsettled(std::move(verdict.ref));
      unsettledSince_ = true;
    } else if (verdict.matched) {
      sink_.Matched(std::move(verdict.ref));
      ++matches_;
    }
  }
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

// Files of the walk, in its order, read together by one thread.
struct Batch {
  std::vector<BEntry> entries;
  std::vector<Verdict> verdicts;
  size_t folders = 0;  // folder descriptors its entries hold, counted as the walk met them
  // The entries this batch reads: all of them, unless the reader handed the rest on to a
  // batch of its own (reading thread only).
  size_t end = 0;
  bool done = false;   // guarded by FilePool::mutex_
  // The verdicts before this one are final: the reader stores it after each file, and the
  // walking thread may report up to it while the rest of the batch is still being read.
  std::atomic<size_t> ready{0};
  size_t reported = 0;  // walk thread only
};

// The threads that read files. The walk submits batches in its order, and their verdicts are
// reported in that order as soon as every earlier one is known: a file that is slow to read
// holds back only the matches after it. The walking thread is one of the readers: with more
// than two batches waiting for each other thread, and while it waits for the first batch in
// flight, it reads the next waiting batch itself, so a search on N threads runs N threads, not
// N + 1 on N processors. Folder descriptors held by batches in flight stay within a budget, so
// that the pool cannot run the process out of descriptors however many small folders the tree
// has.
class FilePool {
 public:
  FilePool(int threads, const FileRules& rules, Reporter& reporter, size_t folderBudget,
           const std::atomic<bool>* stop)
      : rules_(rules), reporter_(reporter), folderBudget_(folderBudget), stop_(stop),
        maxBatches_(size_t(threads) * 8) {
    // A thread the system refuses (a limit on processes) is done without: the walking thread
    // reads whatever no other thread takes.
    try {
      for (int i = 1; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
    }
    helpers_ = threads_.size();
  }
  ~FilePool() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      closing_ = true;
    }
    workReady_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  // Files are added in walk order; `folder` is the descriptor their folder is read through.
  void Add(const BEntry& entry, const void* folder) {
    if (!current_) {
      current_ = std::make_unique<Batch>();
      started_ = std::chrono::steady_clock::now();
    }
    if (folder != lastFolder_) {
      ++current_->folders;
      lastFolder_ = folder;
    }
    current_->entries.push_back(entry);
    if (current_->entries.size() >= kBatchFiles || current_->folders >= folderBudget_ || Starving())
      Submit();
  }

  // The threads that read files, the walking one included.
  int Threads() const { return int(helpers_) + 1; }

  // How often a reader handed the rest of its batch on (HandOffRest); once the pool is finished.
  int32 HandedOn() const { return handedOn_; }

  // The CPU time the walking thread spent reading files for the others.
  double ReadingSeconds() const { return readingSeconds_; }

  // Waits for every file added and reports the rest.
  void Finish() {
    if (current_) Submit();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!inFlight_.empty()) {
      if (!ReportFinished(lock)) WaitForFront(lock);
    }
  }

 private:
  static constexpr size_t kBatchFiles = 32;
  // A batch is handed over before it is full when a thread waits for work and the batch has
  // waited this long: a slow walk (a cold cache) keeps the threads fed and the first matches
  // come early, while a fast one still hands over whole batches.
  static constexpr std::chrono::microseconds kStarvingAfter{200};
  // While the walking thread waits for the first batch in flight, it reports what of that
  // batch is known at least this often.
  static constexpr std::chrono::milliseconds kReportEvery{20};
  // On a cold cache most of a file's time is the disk's, and a reading thread waits for one
  // file at a time. After two files in a row that were this slow to examine, a thread asks for
  // the next few files of its batch ahead (BEntry::Prefetch), for a while, so that the disk has
  // several reads to work on at once. On a warm cache a file is this slow only when it is big
  // or the thread was preempted, which seldom happens twice in a row. (Measured on the Linux
  // source in a virtual machine: warm, nine files in ten took under 25 µs; cold, nearly all
  // took 50 to 300 µs.)
  static constexpr std::chrono::microseconds kSlowFile{60};
  // A file that took this long is a big one, or sits on a slow disk: worth handing the rest
  // of its batch to an idle thread (HandOffRest).
  static constexpr std::chrono::milliseconds kHandOffAfter{2};
  static constexpr size_t kPrefetchAhead = 8;
  static constexpr int kPrefetchAfterSlow = 64;  // files
  static constexpr off_t kPrefetchBytes = 64 * 1024;  // what the first read takes

  bool Starving() const {
    return idle_.load(std::memory_order_relaxed) > 0 &&
           std::chrono::steady_clock::now() - started_ >= kStarvingAfter;
  }

  void Submit() {
    std::unique_ptr<Batch> batch = std::move(current_);
    lastFolder_ = nullptr;  // the next batch counts its first folder again
    batch->verdicts.resize(batch->entries.size());
    batch->end = batch->entries.size();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ReportFinished(lock);
      bool room = inFlight_.size() < maxBatches_ &&
                  (inFlight_.empty() || folders_ + batch->folders <= folderBudget_);
      if (room) break;
      WaitForFront(lock);
    }
    folders_ += batch->folders;
    toDo_.push_back(batch.get());
    inFlight_.push_back(std::move(batch));
    // The walking thread reads a batch only while each other thread has another waiting
    // besides: a thread that finishes its batch then finds the next at once, instead of
    // idling until the walking thread has read its own batch and walked on.
    if (toDo_.size() > 2 * helpers_) {
      ReadOne(lock);
    } else {
      lock.unlock();
      workReady_.notify_one();
    }
  }

  // Waits until the first batch in flight is done, reading waiting batches meanwhile, and
  // telling the sink first if it was given anything since it last heard.
  void WaitForFront(std::unique_lock<std::mutex>& lock) {
    if (reportedSinceWaiting_) {
      reportedSinceWaiting_ = false;
      lock.unlock();
      reporter_.Waiting();
      lock.lock();
    }
    Batch& front = *inFlight_.front();
    while (!front.done) {
      if (!toDo_.empty()) {
        ReadOne(lock);
        lock.lock();
        continue;
      }
      walkerWaiting_ = true;
      bool woken = batchDone_.wait_for(lock, kReportEvery, [&] { return front.done || !toDo_.empty(); });
      walkerWaiting_ = false;
      if (woken) continue;
      lock.unlock();
      if (ReportReady(front)) reporter_.Waiting();
      lock.lock();
    }
  }

  // Reports the verdicts of the first batch in flight that are known and not yet reported;
  // true when there were any. Walk thread only, unlocked.
  bool ReportReady(Batch& front) {
    size_t ready = front.ready.load(std::memory_order_acquire);
    if (front.reported == ready) return false;
    for (; front.reported < ready; ++front.reported)
      if (!Stopped()) reporter_.Report(front.verdicts[front.reported]);
    return true;
  }

  // Reads the first waiting batch on this thread, reporting what becomes known of the first
  // batch in flight as it goes; called locked, returns unlocked.
  void ReadOne(std::unique_lock<std::mutex>& lock) {
    Batch* batch = toDo_.front();
    toDo_.pop_front();
    Batch* front = inFlight_.front().get();  // stays first until this thread reports it
    lock.unlock();
    double before = thread_cpu_seconds();
    Read(walkReader_, *batch, [this, front] { ReportReady(*front); });
    readingSeconds_ += thread_cpu_seconds() - before;
    lock.lock();
    batch->done = true;
    lock.unlock();
  }

  // Reports the finished batches at the front, unlocking meanwhile; false when there was none.
  bool ReportFinished(std::unique_lock<std::mutex>& lock) {
    bool any = false;
    while (!inFlight_.empty() && inFlight_.front()->done) {
      std::unique_ptr<Batch> batch = std::move(inFlight_.front());
      inFlight_.pop_front();
      folders_ -= batch->folders;
      lock.unlock();
      ReportReady(*batch);
      batch.reset();
      lock.lock();
      any = reportedSinceWaiting_ = true;
    }
    return any;
  }

  bool Stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  // What one reading thread keeps from file to file: the file object it reuses, and whether
  // the files are coming slowly enough to ask the kernel for the next ones ahead.
  struct Reader {
    BFile file;
    int prefetching = 0;  // files left to read with prefetching
    bool lastWasSlow = false;
    bool lastTookLong = false;  // the last file took kHandOffAfter or more
  };

  template <typename AfterEach>
  void Read(Reader& reader, Batch& batch, AfterEach afterEach) {
    size_t prefetched = 0;  // entries before this one have been asked for
    for (size_t i = 0; i < batch.end && !Stopped(); ++i) {
      if (reader.lastTookLong && i + 1 < batch.end) HandOffRest(batch, i + 1);
      if (reader.prefetching > 0) {
        --reader.prefetching;
        prefetched = PrefetchAfter(batch, i, prefetched);
      }
      auto started = std::chrono::steady_clock::now();
      examine_file(batch.entries[i], reader.file, rules_, &batch.verdicts[i]);
      auto took = std::chrono::steady_clock::now() - started;
      bool slow = took >= kSlowFile;
      reader.lastTookLong = took >= kHandOffAfter;
      if (slow && reader.lastWasSlow) reader.prefetching = kPrefetchAfterSlow;
      reader.lastWasSlow = slow;
      batch.entries[i].Unset();  // lets go of the folder's descriptor
      batch.ready.store(i + 1, std::memory_order_release);
      afterEach();
    }
  }

  // Big files come slowly: while one is read, the files after it in its batch would wait for
  // it though another thread idles. So after a file that took long, a reader hands the files
  // after the next one on, as a batch of their own right after its own in the walk's order,
  // to whichever thread is idle. The new batch counts the folders again: its entries keep them
  // open after the first batch is reported.
  void HandOffRest(Batch& batch, size_t from) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (idle_.load(std::memory_order_relaxed) == 0 && !walkerWaiting_) return;
    auto rest = std::make_unique<Batch>();
    rest->entries.assign(batch.entries.begin() + long(from), batch.entries.begin() + long(batch.end));
    rest->verdicts.resize(rest->entries.size());
    rest->end = rest->entries.size();
    rest->folders = batch.folders;
    folders_ += rest->folders;
    batch.end = from;
    ++handedOn_;
    auto after = std::find_if(inFlight_.begin(), inFlight_.end(), [&](const auto& b) { return b.get() == &batch; });
    toDo_.push_front(rest.get());
    inFlight_.insert(after == inFlight_.end() ? after : after + 1, std::move(rest));
    lock.unlock();
    workReady_.notify_one();
    batchDone_.notify_all();  // the walking thread waits there, and reads waiting batches too
  }

  // Asks for the files after the i-th that the name lets through, up to kPrefetchAhead of them,
  // from `from` on; returns where it stopped.
  size_t PrefetchAfter(Batch& batch, size_t i, size_t from) {
    size_t end = std::min(i + 1 + kPrefetchAhead, batch.end);
    for (from = std::max(from, i + 1); from < end; ++from)
      if (name_admits(batch.entries[from], rules_)) batch.entries[from].Prefetch(kPrefetchBytes);
    return from;
  }

  void Work() {
    CLocaleOnThisThread plainNames;
    Reader reader;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      idle_.fetch_add(1, std::memory_order_relaxed);
      workReady_.wait(lock, [this] { return closing_ || !toDo_.empty(); });
      idle_.fetch_sub(1, std::memory_order_relaxed);
      if (toDo_.empty()) return;  // closing, nothing left
      Batch* batch = toDo_.front();
      toDo_.pop_front();
      lock.unlock();
      Read(reader, *batch, [] {});
      lock.lock();
      batch->done = true;
      batchDone_.notify_one();
    }
  }

  const FileRules& rules_;
  Reporter& reporter_;  // walk thread only
  const size_t folderBudget_;
  const std::atomic<bool>* stop_;
  const size_t maxBatches_;
  size_t helpers_;  // threads besides the walking one; set once they have started
  std::unique_ptr<Batch> current_;  // walk thread only
  std::chrono::steady_clock::time_point started_;  // walk thread only: current_'s first file
  const void* lastFolder_ = nullptr;  // walk thread only
  bool reportedSinceWaiting_ = false;  // walk thread only
  double readingSeconds_ = 0;          // walk thread only
  Reader walkReader_;                  // walk thread only

  std::mutex mutex_;
  std::condition_variable workReady_;  // a batch to do, or closing
  std::condition_variable batchDone_;  // a batch done
  std::deque<std::unique_ptr<Batch>> inFlight_;  // guarded by mutex_; walk order
  std::deque<Batch*> toDo_;                      // guarded by mutex_
  size_t folders_ = 0;                           // guarded by mutex_
  bool closing_ = false;                         // guarded by mutex_
  bool walkerWaiting_ = false;                   // guarded by mutex_: the walking thread waits for a batch
  int32 handedOn_ = 0;                           // guarded by mutex_
  std::atomic<int> idle_{0};                     // threads waiting for a batch
  std::vector<std::thread> threads_;
};

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
  Reporter reporter(sink);
  size_t budget = open_folder_budget();
  int threads = threads_within_descriptors(options.threads > 0 ? options.threads : available_cpus(), budget);
  rules.otherReaders = threads > 1;
  SearchOutcome outcome;
  if (threads == 1) {
    BFile file;
    outcome.incomplete = walk(folder, budget, options.stop, [&](const BEntry& entry, BDirectory&) {
      Verdict verdict;
      examine_file(entry, file, rules, &verdict);
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
    outcome.sequentialSeconds = thread_cpu_seconds() - started - pool.ReadingSeconds();
  }
  if (options.stop != nullptr && options.stop->load()) outcome.incomplete = B_CANCELED;
  outcome.matches = reporter.Matches();
  outcome.unreadable = reporter.Unreadable();
  outcome.lastAccepted = std::move(reporter.LastAccepted());
  return outcome;
}
