// The directory walk and the type filter.
#include <algorithm>
#include <dirent.h>
#include <memory>
#include <string>
#include <unordered_map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "BlockScanner.h"
#include "Search.h"
#include "platform/AsciiFold.h"
#include "platform/Entry.h"
#include "platform/MenuItem.h"
#include "platform/NodeInfo.h"

namespace {

// The type filter for a whole walk: the same answers and the same rotation of the list as
// f_check_MIME, but the type is looked up in a table of the labels made when the walk starts
// instead of being compared with each label in turn (hundreds, with every text type chosen).
class TypeFilter {
 public:
  explicit TypeFilter(BList& types) : types_(types) {
    for (int32 i = 0; i < types.CountItems(); ++i) {
      auto* item = static_cast<BMenuItem*>(types.ItemAt(i));
      byLabel_[Folded(item->Label())].push_back(item);
    }
  }
  // f_check_MIME in two steps: where the type stands in the list (-1 when it is not there),
  // and the rotation that brings it to the front.
  int32 Find(const char* type) {
    auto found = byLabel_.find(Folded(type));
    if (found == byLabel_.end()) return -1;
    const std::vector<BMenuItem*>& items = found->second;
    if (items.size() == 1) return types_.IndexOf(items[0]);
    // Labels that differ only in case: the first in the list's present order.
    for (int32 i = 0; i < types_.CountItems(); ++i)
      if (std::find(items.begin(), items.end(), types_.ItemAt(i)) != items.end()) return i;
    return -1;
  }
  void Accept(int32 index) { types_.RotateToFront(index); }
  bool Check(const char* type) {
    int32 index = Find(type);
    if (index >= 0) Accept(index);
    return index >= 0;
  }
  bool IsEmpty() const { return byLabel_.empty(); }
  // Whether an accepted type can change the list's order at all.
  bool MayReorder() const { return types_.CountItems() > 1; }

 private:
  const std::string& Folded(const char* text) {
    folded_.assign(text);
    for (char& c : folded_) c = char(ascii::fold(c));
    return folded_;
  }

  BList& types_;
  std::unordered_map<std::string, std::vector<BMenuItem*>> byLabel_;
  std::string folded_;
};

struct WalkLists {
  TypeFilter& types;
  BList& results;
  const SearchStrings& strings;  // made ready once for every file of the walk
};

// Files read before their type is known (below) are at most this big; a larger one has its
// type settled from its head first, so that a big binary file is not read through.
constexpr off_t kContentFirstLimit = 1 << 20;

// What the walk knows of the files whose type it did not settle: the type list must end
// rotated as though every file had been through the type filter. Each accepted type rotates
// the list to put that type first, so the list ends as the last accepted file left it, and
// only the unsettled files after the last settled acceptance can change that.
class UnsettledFiles {
 public:
  void Accepted() { refs_.clear(); }
  void Add(const BEntry& entry) {
    entry_ref ref;
    if (entry.GetRef(&ref) == B_OK) refs_.push_back(std::move(ref));
  }
  // Settles the types of the files left, from the last back, until one is accepted.
  void Settle(TypeFilter& types) {
    char type[B_MIME_TYPE_LENGTH];
    for (auto ref = refs_.rbegin(); ref != refs_.rend(); ++ref) {
      BEntry entry(&*ref);
      BFile file;
      struct stat st;
      if (file.SetToRegular(&entry, &st) != B_OK) continue;
      if (BNodeInfo::GetTypeFromContent(file, st, type) == B_OK && types.Check(type)) break;
    }
    refs_.clear();
  }

 private:
  std::vector<entry_ref> refs_;
};

// Decides whether a regular file is a match, opening it only when it must. A type the
// attribute or the name gives is filtered before the file is opened. A file whose name leaves
// its type open is read first when small (a file without the text is no match whatever its
// type, so most never need their type), and its type is settled from its head only when the
// text is found.
bool file_matches(BEntry& entry, BFile& file, WalkLists& lists, UnsettledFiles& unsettled) {
  char type[B_MIME_TYPE_LENGTH];
  auto refused = [&](status_t known, int32 selected) {
    return known == B_OK ? selected < 0 : known != B_TYPE_NEEDS_CONTENT || lists.types.IsEmpty();
  };
  // The stored type wins over the name. Where reading it by name costs a path lookup (kernels
  // before getxattrat), a file the name already makes a candidate has it read once open; only
  // a name that refuses the file needs the lookup, since the stored type might accept it.
  bool storedTypeUnread = !entry_attributes_read_in_place();
  status_t known = storedTypeUnread ? BNodeInfo::GetTypeByName(entry, type)
                                    : BNodeInfo::GetTypeWithoutContent(entry, type);
  int32 selected = known == B_OK ? lists.types.Find(type) : -1;
  if (storedTypeUnread && refused(known, selected)) {
    storedTypeUnread = false;
    if (BNodeInfo::GetStoredType(entry, type) == B_OK) {
      known = B_OK;
      selected = lists.types.Find(type);
    }
  }
  if (refused(known, selected)) return false;  // a type not selected, no type, or no type selected: no content is read
  struct stat st;
  // Never a link's target, and never what is no longer a regular file. A file that does not
  // open goes through the filter no more than it did when the filter came after the open.
  if (file.SetToRegular(&entry, &st) != B_OK) return false;
  if (storedTypeUnread && BNodeInfo::GetStoredType(file, type) == B_OK) {
    known = B_OK;
    selected = lists.types.Find(type);
    if (selected < 0) {
      file.Unset();
      return false;
    }
  }
  // The type from the file's head, through the filter.
  auto head_accepted = [&] {
    bool accepted = BNodeInfo::GetTypeFromContent(file, st, type) == B_OK && lists.types.Check(type);
    if (accepted) unsettled.Accepted();
    return accepted;
  };
  bool matches;
  if (known == B_OK) {
    lists.types.Accept(selected);
    unsettled.Accepted();
    matches = f_seek(file, lists.strings, st.st_size) == 1;
  } else if (st.st_size <= kContentFirstLimit) {
    matches = f_seek(file, lists.strings, st.st_size) == 1;
    if (matches) matches = head_accepted();
    else if (lists.types.MayReorder()) unsettled.Add(entry);
  } else {
    matches = head_accepted() && f_seek(file, lists.strings, st.st_size) == 1;
  }
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
  TypeFilter filter(types);
  SearchStrings ready(strings);
  WalkLists lists{filter, results, ready};
  UnsettledFiles unsettled;
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
    // The listing tells the kind on most file systems; elsewhere the status does. An entry
    // whose status cannot be read (it vanished, or permission was refused) is passed over,
    // like any entry that is neither a regular file nor a folder.
    mode_t kind = DTTOIF(folder.LastEntryKind());
    if (kind == 0) {
      if (entry.GetName(name) != B_OK || folder.GetStatFor(name, &st) != B_OK) continue;
      kind = st.st_mode & S_IFMT;
    }
    if (S_ISREG(kind)) {
      if (file_matches(entry, file, lists, unsettled)) count += add_result(entry, results);
    } else if (S_ISDIR(kind)) {
      // A folder that does not open lists no entries and adds nothing; one that cannot be
      // opened for lack of descriptors is reported.
      if (status_t status = path.Enter(entry); out_of_descriptors(status)) trouble = status;
    }
  }
  unsettled.Settle(filter);
  if (incomplete != nullptr) *incomplete = trouble;
  return count;
}

bool f_check_MIME(char* type, BList& types) {
  int32 count = types.CountItems();
  int32 found = 0;
  while (found < count &&
         ascii::casecmp(type, static_cast<BMenuItem*>(types.ItemAt(found))->Label()) != 0)
    ++found;
  // Without a match every item would pass through the holding list unmoved; with one, the
  // items before it move to the end in their order, which is a rotation.
  return found < count && types.RotateToFront(found);
}

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
