// The pool of threads that reads files in the walk's order.
#include "FilePool.h"

#include <algorithm>
#include <system_error>

#include "platform/Process.h"

// Files of the walk, in its order, read together by one thread.
struct Batch {
  std::vector<BEntry> entries;
  std::vector<NameType> names;  // what each entry's name tells of its type, read by the walk
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

// A big file's piece scans, shared out by FilePool::SharePieces.
struct PieceWork {
  const std::function<void(size_t)>& scan;
  const size_t count;
  size_t next = 0;     // guarded by FilePool::mutex_: the first piece nobody has taken
  size_t running = 0;  // guarded by FilePool::mutex_: pieces taken and not yet scanned
};

FilePool::FilePool(int threads, const FileRules& rules, Reporter& reporter, size_t folderBudget,
                   const std::atomic<bool>* stop)
    : shareScans_([this](size_t count, const std::function<void(size_t)>& scan) { SharePieces(count, scan); }),
      rules_(rules), reporter_(reporter), folderBudget_(folderBudget), stop_(stop),
      maxBatches_(size_t(threads) * kBatchesPerThread) {
  // A thread the system refuses (a limit on processes) is done without: the walking thread
  // reads whatever no other thread takes.
  try {
    for (int i = 1; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
  }
  helpers_ = threads_.size();
  if (helpers_ > 0) rules_.share = &shareScans_;
}

FilePool::~FilePool() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closing_ = true;
  }
  workReady_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void FilePool::Add(const BEntry& entry, const void* folder) {
  if (!current_) {
    current_ = std::make_unique<Batch>();
    started_ = std::chrono::steady_clock::now();
  }
  if (folder != lastFolder_) {
    ++current_->folders;
    lastFolder_ = folder;
  }
  current_->entries.push_back(entry);
  current_->names.push_back(name_type_of(entry));
  if (current_->entries.size() >= kBatchFiles || current_->folders >= folderBudget_ || Starving())
    Submit();
}

void FilePool::Finish() {
  if (current_) Submit();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!inFlight_.empty()) {
    if (!ReportFinished(lock)) WaitForFront(lock);
  }
}

bool FilePool::Starving() const {
  return idle_.load(std::memory_order_relaxed) > 0 &&
         std::chrono::steady_clock::now() - started_ >= kStarvingAfter;
}

void FilePool::Submit() {
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

void FilePool::WaitForFront(std::unique_lock<std::mutex>& lock) {
  if (reportedSinceWaiting_) {
    reportedSinceWaiting_ = false;
    lock.unlock();
    reporter_.Waiting();
    lock.lock();
  }
  Batch& front = *inFlight_.front();
  // A waiting batch is read here only while more wait than the other threads can take at once:
  // a file of it that hangs would keep this thread from reporting the first batch, which
  // another thread may finish meanwhile.
  auto readHere = [this] { return toDo_.size() > helpers_; };
  while (!front.done) {
    if (PieceWork* work = OpenPieces()) {
      TakePiece(*work, lock);
      continue;
    }
    if (readHere()) {
      ReadOne(lock);
      lock.lock();
      continue;
    }
    walkerWaiting_ = true;
    bool woken = batchDone_.wait_for(lock, kReportEvery,
                                     [&] { return front.done || readHere() || OpenPieces() != nullptr; });
    walkerWaiting_ = false;
    if (woken) continue;
    lock.unlock();
    if (ReportReady(front)) reporter_.Waiting();
    lock.lock();
  }
}

bool FilePool::ReportReady(Batch& front) {
  size_t ready = front.ready.load(std::memory_order_acquire);
  if (front.reported == ready) return false;
  for (; front.reported < ready; ++front.reported)
    if (!Stopped()) reporter_.Report(front.verdicts[front.reported]);
  return true;
}

void FilePool::ReadOne(std::unique_lock<std::mutex>& lock) {
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

bool FilePool::ReportFinished(std::unique_lock<std::mutex>& lock) {
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

template <typename AfterEach>
void FilePool::Read(Reader& reader, Batch& batch, AfterEach afterEach) {
  size_t prefetched = 0;  // entries before this one have been asked for
  for (size_t i = 0; i < batch.end && !Stopped(); ++i) {
    if (reader.lastTookLong && i + 1 < batch.end) HandOffRest(batch, i + 1);
    if (reader.prefetching > 0) {
      --reader.prefetching;
      prefetched = PrefetchAfter(reader, batch, i, prefetched);
    }
    auto started = std::chrono::steady_clock::now();
    examine_file(batch.entries[i], batch.names[i], reader.reading, rules_, &batch.verdicts[i]);
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

void FilePool::HandOffRest(Batch& batch, size_t from) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (idle_.load(std::memory_order_relaxed) == 0 && !walkerWaiting_) return;
  auto rest = std::make_unique<Batch>();
  rest->entries.assign(batch.entries.begin() + long(from), batch.entries.begin() + long(batch.end));
  rest->names.assign(batch.names.begin() + long(from), batch.names.begin() + long(batch.end));
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

size_t FilePool::PrefetchAfter(Reader& reader, Batch& batch, size_t i, size_t from) {
  size_t end = std::min(i + 1 + kPrefetchAhead, batch.end);
  for (from = std::max(from, i + 1); from < end; ++from) {
    if (!name_admits(batch.names[from], rules_) || !batch.entries[from].Prefetch(kPrefetchBytes)) continue;
    reader.prefetching = 0;
    return from + 1;
  }
  return from;
}

void FilePool::Work() {
  CLocaleOnThisThread plainNames;
  Reader reader;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    idle_.fetch_add(1, std::memory_order_relaxed);
    workReady_.wait(lock, [this] { return closing_ || !toDo_.empty() || OpenPieces() != nullptr; });
    idle_.fetch_sub(1, std::memory_order_relaxed);
    if (PieceWork* work = OpenPieces()) {
      TakePiece(*work, lock);
      continue;
    }
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

void FilePool::SharePieces(size_t count, const std::function<void(size_t)>& scan) {
  filesInPieces_.fetch_add(1, std::memory_order_relaxed);
  PieceWork work{scan, count};
  std::unique_lock<std::mutex> lock(mutex_);
  pieceWork_.push_back(&work);
  lock.unlock();
  workReady_.notify_all();
  batchDone_.notify_all();  // the walking thread may be waiting there
  lock.lock();
  while (TakePiece(work, lock)) {
  }
  std::erase(pieceWork_, &work);
  piecesDone_.wait(lock, [&] { return work.running == 0; });
}

PieceWork* FilePool::OpenPieces() {
  std::erase_if(pieceWork_, [](const PieceWork* work) { return work->next == work->count; });
  return pieceWork_.empty() ? nullptr : pieceWork_.front();
}

bool FilePool::TakePiece(PieceWork& work, std::unique_lock<std::mutex>& lock) {
  if (work.next == work.count) return false;
  size_t piece = work.next++;
  ++work.running;
  lock.unlock();
  if (!Stopped()) work.scan(piece);  // a stopped search reports nothing more of the file
  lock.lock();
  if (--work.running == 0 && work.next == work.count) piecesDone_.notify_all();
  return true;
}
