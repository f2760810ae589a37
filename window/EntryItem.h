// A result of a search: a list item showing a file's name or path and keeping its entry_ref.
#pragma once

#include "platform/Entry.h"
#include "platform/interface/ListView.h"

class EntryItem : public BStringItem {
 public:
  EntryItem(const entry_ref& ref, const char* label);
  ~EntryItem() override;
  // A copy of the item's reference.
  entry_ref EntryRef() const { return ref_; }
  // How many items exist; the window must delete every one it takes out of its list.
  static int32 LiveCount();

 private:
  entry_ref ref_;
};
