// An absolute path, with its leaf and its parent.
#pragma once

#include <string>

#include "SupportDefs.h"

class BEntry;
struct entry_ref;

class BPath {
 public:
  BPath();
  // A relative path is taken from the current folder. With normalize, or when the path holds
  // ".", ".." or repeated slashes, the folder part is resolved on disk and must exist.
  explicit BPath(const char* dir, const char* leaf = nullptr, bool normalize = false);
  explicit BPath(const BEntry* entry);
  explicit BPath(const entry_ref* ref);

  status_t SetTo(const char* dir, const char* leaf = nullptr, bool normalize = false);
  status_t SetTo(const BEntry* entry);
  status_t SetTo(const entry_ref* ref);
  void Unset();
  status_t InitCheck() const { return status_; }

  // The path, or null when the path is not set.
  const char* Path() const { return status_ == B_OK ? path_.c_str() : nullptr; }
  // The last component, or null when the path is not set; "" for "/".
  const char* Leaf() const;
  status_t Append(const char* leaf, bool normalize = false);
  status_t GetParent(BPath* parent) const;

  bool operator==(const BPath& other) const;
  bool operator==(const char* path) const;

 private:
  std::string path_;
  status_t status_ = B_NO_INIT;
};
