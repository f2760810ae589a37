// The directory walk and the type filter.
#include <algorithm>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "Search.h"
#include "platform/AsciiFold.h"
#include "platform/MenuItem.h"
#include "platform/NodeInfo.h"

namespace {

struct WalkLists {
  BList& types;
  BList& results;
  BList& strings;
};

// Reads the type of the open file and, when the filter takes it, scans its content. The file
// serves as the node its type is read through, so each file is opened once; its content is
// read only after the filter accepted its type.
bool file_matches(BEntry& entry, BFile& file, WalkLists& lists) {
  char type[B_MIME_TYPE_LENGTH];
  // Never a link's target, and never what is no longer a regular file.
  if (file.SetToRegular(&entry) != B_OK) return false;
  BNodeInfo info(&file);
  bool matches = info.GetType(type) == B_OK && f_check_MIME(type, lists.types) &&
                 f_seek(file, lists.strings) == 1;
  // Closing now keeps the walk's descriptors to its folders.
  file.Unset();
  return matches;
}

int32 add_result(const BEntry& entry, BList& results) {
  auto* ref = new entry_ref;
  if (entry.GetRef(ref) != B_OK) {
    delete ref;
    return 0;
  }
  results.AddItem(ref);
  return 1;
}

bool out_of_descriptors(status_t status) { return status == B_NO_MORE_FDS || status == -ENFILE; }

// How many folders of the current path the walk keeps open at once: a quarter of the
// descriptor limit, so that the rest of the program keeps room, and at most 256.
size_t open_folder_budget() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
  return std::clamp<size_t>(size_t(limit.rlim_cur / 4), 2, 256);
}

// The folders from the top of the walk down to the one being listed. Only the deepest few
// hold descriptors; the ones above are suspended and reopened through ".." on the way back up,
// so neither the descriptor limit nor the stack bounds the depth of a tree.
class FolderPath {
 public:
  explicit FolderPath(BDirectory& top) : top_(top), budget_(open_folder_budget()) {}

  BDirectory& Current() { return below_.empty() ? top_ : *below_.back(); }
  bool AtTop() const { return below_.empty(); }

  // Opens the sub-folder the entry names and makes it current; the status of the open.
  status_t Enter(const BEntry& entry) {
    if (open_ >= budget_) SuspendOldest();
    auto folder = std::make_unique<BDirectory>();
    status_t status;
    while (out_of_descriptors(status = folder->SetTo(&entry)) && SuspendOldest()) {
    }
    if (status != B_OK) return status;
    below_.push_back(std::move(folder));
    ++open_;
    return B_OK;
  }

  // Leaves the current folder for its parent, reopening the parent when it was suspended.
  status_t Leave() {
    std::unique_ptr<BDirectory> child = std::move(below_.back());
    below_.pop_back();
    --open_;
    BDirectory& parent = Current();
    if (!parent.IsSuspended()) return B_OK;
    status_t status = parent.ResumeFromChild(*child);
    if (status == B_OK) ++open_;
    return status;
  }

 private:
  // Suspends the shallowest open folder below the top; false when none is left to suspend.
  bool SuspendOldest() {
    for (auto& folder : below_) {
      if (folder->IsSuspended() || folder.get() == &Current()) continue;
      folder->Suspend();
      --open_;
      return true;
    }
    return false;
  }

  BDirectory& top_;
  std::vector<std::unique_ptr<BDirectory>> below_;
  size_t budget_;
  size_t open_ = 0;  // folders below the top that hold a descriptor
};

}  // namespace

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings) {
  return f_dirsearch_BMI(dir, types, results, strings, nullptr);
}

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete) {
  WalkLists lists{types, results, strings};
  FolderPath path(dir);
  BEntry entry;
  BFile file;
  char name[B_FILE_NAME_LENGTH];
  struct stat st;
  int32 count = 0;
  status_t trouble = B_OK;
  dir.Rewind();  // the walk starts at the first entry whatever the folder's position
  for (;;) {
    BDirectory& folder = path.Current();
    if (folder.GetNextEntry(&entry, false) != B_OK) {
      // The end of the folder, or an iteration that failed: go on in the folder above.
      entry.Unset();
      if (path.AtTop()) break;
      if (status_t status = path.Leave(); status != B_OK) {
        trouble = status;  // the folder above changed under the walk, or cannot be reopened
        break;
      }
      continue;
    }
    // An entry whose status cannot be read (it vanished, or permission was refused) is
    // passed over, like any entry that is neither a regular file nor a folder.
    if (entry.GetName(name) != B_OK || folder.GetStatFor(name, &st) != B_OK) continue;
    if (S_ISREG(st.st_mode)) {
      if (file_matches(entry, file, lists)) count += add_result(entry, results);
    } else if (S_ISDIR(st.st_mode)) {
      // A folder that does not open lists no entries and adds nothing; one that cannot be
      // opened for lack of descriptors is reported.
      if (status_t status = path.Enter(entry); out_of_descriptors(status)) trouble = status;
    }
  }
  if (incomplete != nullptr) *incomplete = trouble;
  return count;
}

bool f_check_MIME(char* type, BList& types) {
  int32 count = types.CountItems();
  int32 found = 0;
  while (found < count &&
         ascii::casecmp(type, static_cast<BMenuItem*>(types.ItemAt(found))->Label()) != 0)
    ++found;
  if (found == count) return false;  // every item would pass through the holding list unmoved
  BList holding(count);
  for (int32 i = 0; i < found; ++i) holding.AddItem(types.ItemAt(i));
  types.RemoveItems(0, found);
  types.AddList(&holding);
  return true;
}

BPath f_get_path(const entry_ref& ref) {
  BEntry entry(&ref, false);
  BPath path;
  entry.GetPath(&path);
  return path;
}
