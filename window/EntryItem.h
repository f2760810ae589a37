// A result of a search: a list item showing a file's name or path and keeping its entry_ref.
#pragma once

#include <memory>
#include <string>

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

  // The text the search looked for, shared by the items of one search.
  void SetSearchText(std::shared_ptr<const std::string> text) { searchText_ = std::move(text); }
  // The file's absolute path, as the search reached it.
  std::string FilePath() const override;
  // The path and the first line of the file that holds the search text, with the text in
  // bold, read now from at most the first megabyte; a short note when the file has gone, no
  // longer holds the text there, or is not read within a fifth of a second.
  std::string ToolTip() const override;

 private:
  entry_ref ref_;
  std::shared_ptr<const std::string> searchText_;
};
