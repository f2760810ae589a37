#include "SavedSearch.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/DesktopFiles.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/FindDirectory.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"

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

status_t write_saved_search(const char* path, const BMessage& record) {
  BFile file(path, B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
  if (file.InitCheck() != B_OK) return file.InitCheck();
  std::string bytes(size_t(record.FlattenedSize()), '\0');
  record.Flatten(bytes.data(), ssize_t(bytes.size()));
  ssize_t written = file.Write(bytes.data(), bytes.size());
  if (written != ssize_t(bytes.size())) return written < 0 ? status_t(written) : B_FILE_ERROR;
  BNodeInfo info(&file);
  return info.SetType(kSavedSearchType);
}

status_t read_saved_search(const BEntry& entry, BMessage* record) {
  BFile file(&entry, B_READ_ONLY);
  if (file.InitCheck() != B_OK) return file.InitCheck();
  return record->Unflatten(&file);
}

std::string settings_path() {
  BPath folder;
  if (find_directory(B_USER_SETTINGS_DIRECTORY, &folder) != B_OK) return "";
  return std::string(folder.Path()) + "/" + kSettingsName;
}

status_t write_settings(const std::string& savedSearchPath) {
  std::string path = settings_path();
  if (path.empty()) return B_ENTRY_NOT_FOUND;
  std::string temporary = path + ".new-" + std::to_string(getpid());
  BFile file(temporary.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
  if (file.InitCheck() != B_OK) return file.InitCheck();
  bool whole = file.Write(savedSearchPath.data(), savedSearchPath.size()) == ssize_t(savedSearchPath.size()) &&
               fsync(file.Descriptor()) == 0;
  file.Unset();
  if (!whole || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return B_FILE_ERROR;
  }
  return B_OK;
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
