// Saved searches: the record of a search set-up, the file that holds it, and the settings
// file that names the last one. This layer knows files and messages only, no window.
#pragma once

#include <string>
#include <vector>

#include "platform/Message.h"

class BEntry;

constexpr uint32 kRecordCode = four_cc("arch");
constexpr const char* kSavedSearchType = "message/x-Tarnwickloft";
constexpr const char* kSettingsName = "Tarnwickloft Settings";

// A search set-up, as a record holds it.
struct SearchState {
  std::vector<std::string> types;  // the selected types, in list order
  std::string file, folder, text;  // "TC_File", "TC_SearchDir", "TC_SearchFor"
  bool showPaths = false;
  bool hasFrame = false;
  BRect frame;
};

// Adds the record's fields, in order, to message: "Types" (none when no type is selected),
// "TC_File", "TC_SearchDir", "TC_SearchFor", "ShowPaths", "Frame".
void add_record_fields(const SearchState& state, BMessage* message);
// Reads a record; a missing field, or one of another type, takes its default.
SearchState read_record_fields(const BMessage& message);

// Writes exactly the flattened record, in one Write, into a new file beside path, types it as
// a saved search and renames it over path (or over the file a link at path points to),
// keeping the old file's permissions and user attributes. Fails, leaving whatever was at path
// untouched, when the file does not open, the record is not written whole, or the type
// cannot be set.
status_t write_saved_search(const char* path, const BMessage& record);
// Reads the record of a saved-search file; fails for a file that holds no flattened message.
status_t read_saved_search(const BEntry& entry, BMessage* record);

// The saved searches in a folder, in the folder's order: its regular files typed as saved
// searches byte for byte, and links to such files (listed as the file they point to). Nothing
// else is opened: a pipe or a device, or a link to one planted in a shared folder, could block
// or wake whatever waits on it. Files of saves under way are left out.
std::vector<entry_ref> list_saved_searches(const char* folder);

// The settings file: the path of the last saved search, with no line end.
std::string settings_path();
// Replaces the settings file through a temporary file and a rename, so that it is never
// left empty or half written.
status_t write_settings(const std::string& savedSearchPath);
// The path the settings file names; fails for a missing file, a failed read, or a text of
// 4096 bytes or more. The text is taken unchanged.
status_t read_settings(std::string* savedSearchPath);
