#include "SearchRun.h"

#include <thread>

#include "TypeOrder.h"
#include "platform/Directory.h"
#include "platform/List.h"
#include "platform/Process.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"

namespace {

// The least time between two news messages, unless one is urgent (the first match, the end,
// the search waiting on a slow file).
constexpr std::chrono::milliseconds kAnnounceEvery{25};

}  // namespace

// What the engine reports, turned into news; on the search's thread.
class SearchRun::Sink : public TypeOrderKeeper {
 public:
  Sink(SearchRun& run, TypeRotation& rotation) : TypeOrderKeeper(rotation, &run.stop_), run_(run), rotation_(rotation) {}

  void Matched(entry_ref&& ref) override {
    std::unique_lock<std::mutex> lock(run_.mutex_);
    run_.news_.matches.push_back(std::move(ref));
    bool first = run_.news_.matched++ == 0;
    run_.Announce(lock, first);
  }
  void TypeAccepted(const char* type) override {
    TypeOrderKeeper::TypeAccepted(type);
    TakeOrder();
  }
  void Progress(int64 files) override {
    std::unique_lock<std::mutex> lock(run_.mutex_);
    run_.news_.files = files;
    run_.Announce(lock, false);
  }
  void Waiting() override {
    std::unique_lock<std::mutex> lock(run_.mutex_);
    run_.Announce(lock, !run_.news_.matches.empty());
  }
  // The order as it stands, into the news.
  void TakeOrder() {
    std::lock_guard<std::mutex> guard(run_.mutex_);
    run_.news_.typeFront = rotation_.Front();
  }

 private:
  SearchRun& run_;
  TypeRotation& rotation_;
};

std::shared_ptr<SearchRun> SearchRun::Start(Inputs inputs, BMessenger window, uint32 news) {
  std::shared_ptr<SearchRun> run(new SearchRun(std::move(inputs), window, news));
  // The thread keeps the run alive: a search stopped while a read hangs ends on its own.
  std::thread([run] { run->Run(); }).detach();
  return run;
}

SearchRun::SearchRun(Inputs inputs, BMessenger window, uint32 news)
    : inputs_(std::move(inputs)), window_(window), newsCode_(news) {}

void SearchRun::Run() {
  CLocaleOnThisThread plainNames;  // for the files the order keeper types too
  TypeRotation rotation(inputs_.types);
  Sink sink(*this, rotation);
  BDirectory folder(inputs_.folder.c_str());
  if (folder.InitCheck() == B_OK) {
    BList strings;
    strings.AddItem(const_cast<char*>(inputs_.text.c_str()));
    SearchOptions options;
    options.stop = &stop_;
    options.reportUnsettled = rotation.MayReorder();
    options.typesOfUnmatched = rotation.MayReorder();  // one type cannot move the list
    search_folder(folder, TypeSet(rotation.Types()), SearchStrings(strings), sink, options);
    sink.Finish();
    sink.TakeOrder();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  news_.ended = true;
  Announce(lock, true);
}

void SearchRun::Announce(std::unique_lock<std::mutex>& lock, bool urgent) {
  auto now = std::chrono::steady_clock::now();
  if (announced_ || stop_.load() || (!urgent && now - lastAnnounced_ < kAnnounceEvery)) return;
  announced_ = true;
  lastAnnounced_ = now;
  lock.unlock();  // the window may be taking the last news meanwhile; it waits for none
  window_.SendMessage(newsCode_);
}

SearchRun::News SearchRun::Take() {
  std::lock_guard<std::mutex> guard(mutex_);
  News taken = std::move(news_);
  news_ = News();
  news_.files = taken.files;
  news_.matched = taken.matched;
  news_.ended = taken.ended;
  announced_ = false;
  return taken;
}

void SearchRun::Stop() { stop_.store(true); }
