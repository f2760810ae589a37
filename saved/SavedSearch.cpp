#include "SavedSearch.h"

#include <cstring>
#include <sys/stat.h>

#include "platform/DesktopFiles.h"
#include "platform/Directory.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/FindDirectory.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"
#include "platform/ReplaceFile.h"

namespace {

constexpr size_t kSettingsLimit = 4096;

std::string string_field(const BMessage& message, const char* name) {
  const char* text = "";
  message.FindString(name, &text);
  return text;
}

}  // namespace

void add_record_fields(const SearchState& state, BMessage* message) {
  for (const std::string& type : state.types) message->AddString("Types", type.c_str());
  message->AddString("TC_File", state.file.c_str());
  message->AddString("TC_SearchDir", state.folder.c_str());
  message->AddString("TC_SearchFor", state.text.c_str());
  message->AddBool("ShowPaths", state.showPaths);
  if (state.hasFrame) message->AddRect("Frame", state.frame);
}

SearchState read_record_fields(const BMessage& message) {
  SearchState state;
  const char* type;
  for (int32 i = 0; message.FindString("Types", i, &type) == B_OK; ++i) state.types.push_back(type);
  state.file = string_field(message, "TC_File");
  state.folder = string_field(message, "TC_SearchDir");
  state.text = string_field(message, "TC_SearchFor");
  message.FindBool("ShowPaths", &state.showPaths);
  state.hasFrame = message.FindRect("Frame", &state.frame) == B_OK;
  return state;
}

namespace {

// Where a saved search at path really lives: a link is followed, so that saving through it
// replaces the file it points to and leaves the link in place; but never another user's link
// planted in a shared sticky folder. The result is absolute and free of "." and "..".
status_t write_target(const char* path, std::string* target) {
  std::string followed;
  if (status_t status = link_target_for_writing(path, &followed); status != B_OK) return status;
  BPath normal(followed.c_str());
  *target = normal.InitCheck() == B_OK ? normal.Path() : followed;
  return B_OK;
}

// Gives the new file what the old one had beside its content: permissions and user attributes
// (a preferred application, a comment). The type is set anew.
status_t carry_over(const std::string& oldPath, BNode* fresh) {
  BNode old;
  BEntry entry(oldPath.c_str());
  struct stat st;
  if (entry.GetStat(&st) != B_OK || kind_of(st) != entry_kind::file || old.SetTo(&entry) != B_OK) return B_OK;
  if (status_t status = fresh->SetPermissions(st.st_mode); status != B_OK) return status;
  return old.CopyUserAttrsTo(fresh, kTypeAttr);
}

}  // namespace

// The record goes to a new file in the same folder, which replaces the old one by a rename
// only once it is whole, synced and typed: a save that fails midway (disk full, a quota, an
// I/O error) leaves the old saved search as it was.
status_t write_saved_search(const char* path, const BMessage& record) {
  if (path == nullptr || *path == '\0') return B_BAD_VALUE;
  std::string target;
  if (status_t status = write_target(path, &target); status != B_OK) return status;
  std::string bytes(size_t(record.FlattenedSize()), '\0');
  record.Flatten(bytes.data(), ssize_t(bytes.size()));
  return replace_file(target, bytes, [&target](BFile& file) {
    status_t status = carry_over(target, &file);
    return status == B_OK ? BNodeInfo(&file).SetType(kSavedSearchType) : status;
  });
}

status_t read_saved_search(const BEntry& entry, BMessage* record) {
  BFile file(&entry, B_READ_ONLY);
  if (file.InitCheck() != B_OK) return file.InitCheck();
  return record->Unflatten(&file);
}

namespace {

bool is_saved_search(const BEntry& entry) {
  struct stat st;
  if (entry.GetStat(&st) != B_OK || kind_of(st) != entry_kind::file) return false;
  BNode node(&entry);
  BNodeInfo info(&node);
  char type[B_MIME_TYPE_LENGTH];
  return info.GetType(type) == B_OK && strcmp(type, kSavedSearchType) == 0;
}

}  // namespace

std::vector<entry_ref> list_saved_searches(const char* folder) {
  std::vector<entry_ref> found;
  BDirectory dir(folder);
  BEntry listed;
  while (dir.GetNextEntry(&listed, false) == B_OK) {
    if (is_replace_temporary(listed.Name())) continue;
    BEntry entry(&dir, listed.Name(), true);  // a broken or looping link is passed over
    entry_ref ref;
    if (is_saved_search(entry) && entry.GetRef(&ref) == B_OK) found.push_back(std::move(ref));
  }
  return found;
}

std::string settings_path() {
  BPath folder;
  if (find_directory(B_USER_SETTINGS_DIRECTORY, &folder) != B_OK) return "";
  return std::string(folder.Path()) + "/" + kSettingsName;
}

status_t write_settings(const std::string& savedSearchPath) {
  std::string path = settings_path();
  if (path.empty()) return B_ENTRY_NOT_FOUND;
  // A new account may have no settings folder yet; it is made private, as the desktop would.
  if (status_t status = create_folders(path.substr(0, path.rfind('/')), 0700); status != B_OK) return status;
  return replace_file(path, savedSearchPath);
}

status_t read_settings(std::string* savedSearchPath) {
  BFile file(settings_path().c_str(), B_READ_ONLY);
  if (file.InitCheck() != B_OK) return file.InitCheck();
  char buffer[kSettingsLimit];
  ssize_t got = file.Read(buffer, sizeof buffer);
  if (got < 0) return status_t(got);
  if (size_t(got) == kSettingsLimit) return B_BAD_DATA;  // 4096 bytes or more
  savedSearchPath->assign(buffer, size_t(got));
  return B_OK;
}
