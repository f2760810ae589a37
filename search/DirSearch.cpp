// The directory walk and the type filter.
#include <sys/stat.h>

#include "Search.h"
#include "platform/AsciiFold.h"
#include "platform/MenuItem.h"
#include "platform/NodeInfo.h"
#include "platform/StackGuard.h"

namespace {

// Stack that must be left before walking one level deeper: room for the scan's read buffer
// and for what the type lookup needs. A deeper tree is walked as far as this allows.
constexpr size_t kStackReserve = 256 * 1024;

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
  if (file.SetTo(&entry, B_READ_ONLY) != B_OK) return false;
  BNodeInfo info(&file);
  bool matches = info.GetType(type) == B_OK && f_check_MIME(type, lists.types) &&
                 f_seek(file, lists.strings) == 1;
  // Closing now keeps one descriptor per level, the folder's, for deep trees.
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

int32 walk_subfolder(const BEntry& entry, WalkLists& lists) {
  if (!stack_has_room(kStackReserve)) return 0;
  BDirectory folder(&entry);
  // A folder that does not open lists no entries and adds nothing.
  return f_dirsearch_BMI(folder, lists.types, lists.results, lists.strings);
}

}  // namespace

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings) {
  WalkLists lists{types, results, strings};
  BEntry entry;
  BFile file;
  char name[B_FILE_NAME_LENGTH];
  struct stat st;
  int32 count = 0;
  dir.Rewind();  // the walk starts at the first entry whatever the folder's position
  while (dir.GetNextEntry(&entry, false) == B_OK) {
    // An entry whose status cannot be read (it vanished, or permission was refused) is
    // passed over, like any entry that is neither a regular file nor a folder.
    if (entry.GetName(name) != B_OK || dir.GetStatFor(name, &st) != B_OK) continue;
    if (S_ISREG(st.st_mode)) {
      if (file_matches(entry, file, lists)) count += add_result(entry, results);
    } else if (S_ISDIR(st.st_mode)) {
      count += walk_subfolder(entry, lists);
    }
  }
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
