// A search of the window's, run on a thread of its own. The window hands it copies of what
// it searches with, and learns what it finds through its looper: a message says news is
// waiting, and the window takes it. Nothing of the window's is touched off the window's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Entry.h"
#include "platform/interface/Looper.h"

class SearchRun {
 public:
  struct Inputs {
    std::string folder;
    std::string text;
    std::vector<std::string> types;  // the labels of the selected type list, in its order
  };

  // What the search found since the window last took its news.
  struct News {
    std::vector<entry_ref> matches;  // in walk order
    int64 files = 0;                 // regular files the walk has passed so far
    int32 matched = 0;               // matches so far
    // Where the type list now starts: the position in Inputs::types of the item at its front,
    // the rest following round to the start (the list is only rotated); -1 when unchanged.
    int32 typeFront = -1;
    bool ended = false;  // the search is over: nothing more comes
  };

  // Starts the search. The window is sent `news` whenever news waits and the window has taken
  // the news it was last sent; the end is always sent.
  static std::shared_ptr<SearchRun> Start(Inputs inputs, BMessenger window, uint32 news);
  SearchRun(const SearchRun&) = delete;
  SearchRun& operator=(const SearchRun&) = delete;

  News Take();
  // Ends the search: no file is started after this, and nothing more is sent. Returns at once;
  // a read the kernel holds ends in the background and what it finds is dropped.
  void Stop();

 private:
  class Sink;
  SearchRun(Inputs inputs, BMessenger window, uint32 news);
  void Run();
  // Sends the news message unless one is out; a message waits a little after the last one,
  // so a fast search sends tens of messages a second, not thousands, unless urgent.
  void Announce(std::unique_lock<std::mutex>& lock, bool urgent);

  const Inputs inputs_;
  const BMessenger window_;
  const uint32 newsCode_;
  std::atomic<bool> stop_{false};

  std::mutex mutex_;
  News news_;                  // guarded by mutex_
  bool announced_ = false;     // guarded by mutex_: a news message is out, not yet taken
  std::chrono::steady_clock::time_point lastAnnounced_;  // guarded by mutex_
};
