// The search with the window's list of type menu items: the engine (search/Engine.h) runs it,
// and the list ends rotated as the items were met, each accepted type brought to the front.
#pragma once

#include <vector>

#include "platform/Directory.h"
#include "platform/Entry.h"
#include "platform/List.h"

// Walks the folder depth first, pre-order, without following links, and appends a new
// entry_ref (the caller frees it) to results for every regular file whose type is in types
// (a BList of BMenuItem*, labels compared ignoring case) and whose content contains one of the
// strings. Returns the number of refs appended by this call and its sub-folders.
// The walk keeps only a few folders of its path open and holds no recursion, so any depth is
// walked within the descriptor limit.
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings);
// The same; incomplete is set to B_OK, or to the reason part of the tree could not be walked
// (descriptors ran out, or a folder changed under the walk so that it could not go back up).
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete);

// The files a search passed over without telling their types (their text was not found,
// and only their content could tell), after the last file whose type it accepted. Each could
// still move a type to the front of the list, and telling their types costs a content guess
// each, more than the search itself when there are many. A list's order is seen only where it
// is saved, so a caller may keep them here and settle the list when it needs the order.
class PendingTypeOrder {
 public:
  bool IsEmpty() const { return refs_.empty(); }
  // Types the files from the last back until one is accepted: the list ends as though the
  // search had typed every file.
  void Settle(BList& types);
  // For a list about to be replaced.
  void Drop() { refs_.clear(); }

 private:
  friend int32 f_dirsearch_BMI(BDirectory&, BList&, BList&, BList&, status_t*, PendingTypeOrder*);
  std::vector<entry_ref> refs_;
};

// f_dirsearch_BMI that leaves the list's last rotations pending: the list is as the search
// left it once pending is settled. A pending order from an earlier search of the same list is
// carried on (the list must not have changed meanwhile).
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete, PendingTypeOrder* pending);

// True when the label of an item of types equals type, ignoring case. The items before the
// matching one move, in their order, to the end of the list, so the type just found comes
// first for the next file; without a match the list is unchanged.
bool f_check_MIME(char* type, BList& types);

