// The path of a ref the walk made.
#include <string>

#include "Search.h"
#include "platform/Entry.h"

// A ref made by the walk knows its folder's path, link-free, as the walk reached it: the
// label is made from it without a system call. A ref without one is looked up on disk.
BPath f_get_path(const entry_ref& ref) {
  BPath path;
  std::string folder = ref.directory_path();
  if (!folder.empty() && ref.name != nullptr && path.SetTo(folder.c_str(), ref.name) == B_OK) return path;
  BEntry entry(&ref, false);
  entry.GetPath(&path);
  return path;
}
