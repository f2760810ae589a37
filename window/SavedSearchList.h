// The saved searches the Restore menu shows, kept by passes over the saved-search folder on a
// thread of their own: each pass gives the changes since the one before, so that the window
// changes only what changed, even in a folder of thousands.
#pragma once

#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/Entry.h"

class SavedSearchList {
 public:
  struct Changes {
    std::vector<std::string> removed;  // keys of entries gone since the last pass
    std::vector<entry_ref> added;      // in the folder's order
  };

  // Lists the folder and keeps the changes since the last pass for Take. One pass at a time,
  // each taken before the next starts.
  void Relist(const std::string& folder);
  // The changes of the last pass.
  Changes Take();
  // What tells two entries apart: the folder entry they name.
  static std::string KeyOf(const entry_ref& ref);

 private:
  std::mutex guard_;
  std::unordered_set<std::string> keys_;  // guarded by guard_: the entries of the last pass
  Changes changes_;                       // guarded by guard_
};
