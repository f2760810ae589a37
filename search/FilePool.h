// The threads that read the walk's files for it, in the walk's order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Examine.h"

struct Batch;
struct PieceWork;

// The threads that read files. The walk submits batches in its order, and their verdicts are
// reported in that order as soon as every earlier one is known: a file that is slow to read
// holds back only the matches after it. The walking thread is one of the readers: with more
// than two batches waiting for each other thread, and, while it waits for the first batch in
// flight, with more than one, it reads the next waiting batch itself, so a search on N threads
// runs N threads, not N + 1 on N processors. A big file is scanned in pieces, which threads
// that come free take before any waiting batch: the file holds back every verdict after it.
// Folder descriptors held by batches in flight stay within a budget, so that the pool cannot
// run the process out of descriptors however many small folders the tree has.
class FilePool {
 public:
  FilePool(int threads, const FileRules& rules, Reporter& reporter, size_t folderBudget,
           const std::atomic<bool>* stop);
  ~FilePool();

  // Files are added in walk order; `folder` is the descriptor their folder is read through.
  void Add(const BEntry& entry, const void* folder);

  // The threads that read files, the walking one included.
  int Threads() const { return int(helpers_) + 1; }

  // How often a reader handed the rest of its batch on (HandOffRest); once the pool is finished.
  int32 HandedOn() const { return handedOn_; }

  // How many big files were scanned in pieces (SharePieces); once the pool is finished.
  int32 FilesInPieces() const { return filesInPieces_.load(); }

  // The CPU time the walking thread spent reading files for the others.
  double ReadingSeconds() const { return readingSeconds_; }

  // Waits for every file added and reports the rest.
  void Finish();

 private:
  static constexpr size_t kBatchFiles = 32;
  // Batches in flight per thread. While another thread reads a big file of the first batch,
  // the walking thread walks on and reads what waits; with too few in flight it soon has
  // nothing it may take, and idles until that file is done (measured on the Linux source, two
  // threads: 20 to 330 ms idle a search with 8, about 6 ms with 32). The folders held open
  // are bounded apart from this (folderBudget_).
  static constexpr size_t kBatchesPerThread = 32;
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

  bool Starving() const;
  void Submit();
  // Waits until the first batch in flight is done, reading waiting batches meanwhile, and
  // telling the sink first if it was given anything since it last heard.
  void WaitForFront(std::unique_lock<std::mutex>& lock);
  // Reports the verdicts of the first batch in flight that are known and not yet reported;
  // true when there were any. Walk thread only, unlocked.
  bool ReportReady(Batch& front);
  // Reads the first waiting batch on this thread, reporting what becomes known of the first
  // batch in flight as it goes; called locked, returns unlocked.
  void ReadOne(std::unique_lock<std::mutex>& lock);
  // Reports the finished batches at the front, unlocking meanwhile; false when there was none.
  bool ReportFinished(std::unique_lock<std::mutex>& lock);
  bool Stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  // What one reading thread keeps from file to file: the file object and scan habit it reuses,
  // and whether the files are coming slowly enough to ask the kernel for the next ones ahead.
  struct Reader {
    FileReading reading;
    int prefetching = 0;  // files left to read with prefetching
    bool lastWasSlow = false;
    bool lastTookLong = false;  // the last file took kHandOffAfter or more
  };

  // Examines a batch's files in order, calling afterEach after each.
  template <typename AfterEach>
  void Read(Reader& reader, Batch& batch, AfterEach afterEach);
  // Big files come slowly: while one is read, the files after it in its batch would wait for
  // it though another thread idles. So after a file that took long, a reader hands the files
  // after the next one on, as a batch of their own right after its own in the walk's order,
  // to whichever thread is idle. The new batch counts the folders again: its entries keep them
  // open after the first batch is reported.
  void HandOffRest(Batch& batch, size_t from);
  // Asks for the files after the i-th that the name lets through, up to kPrefetchAhead of them,
  // from `from` on; returns where it stopped. A file found in memory already ends the reader's
  // prefetching: the slow files were slow for another reason (the thread was preempted), and a
  // warm tree is not asked for twice.
  size_t PrefetchAfter(Reader& reader, Batch& batch, size_t i, size_t from);
  // A helper thread's loop: reads batches until the pool closes.
  void Work();
  // Runs a big file's piece scans on this thread and on whichever others come free meanwhile
  // (ShareScans); returns when all have returned.
  void SharePieces(size_t count, const std::function<void(size_t)>& scan);
  // The first piece work with a piece nobody has taken, dropping the exhausted; locked.
  PieceWork* OpenPieces();
  // Scans the next piece of `work`, unlocking meanwhile; false when none was left. Locked.
  bool TakePiece(PieceWork& work, std::unique_lock<std::mutex>& lock);

  const ShareScans shareScans_;
  FileRules rules_;  // the search's, with shareScans_ when there are other threads
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
  std::condition_variable piecesDone_;  // a big file's last piece done
  std::vector<PieceWork*> pieceWork_;   // guarded by mutex_; the big files being scanned in pieces
  std::deque<std::unique_ptr<Batch>> inFlight_;  // guarded by mutex_; walk order
  std::deque<Batch*> toDo_;                      // guarded by mutex_
  size_t folders_ = 0;                           // guarded by mutex_
  bool closing_ = false;                         // guarded by mutex_
  bool walkerWaiting_ = false;                   // guarded by mutex_: the walking thread waits for a batch
  int32 handedOn_ = 0;                           // guarded by mutex_
  std::atomic<int> idle_{0};                     // threads waiting for a batch
  std::atomic<int32> filesInPieces_{0};
  std::vector<std::thread> threads_;
};
