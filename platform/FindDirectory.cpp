#include "FindDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Path.h"

namespace {

std::string home_folder() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  struct passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string xdg_folder(const char* variable, const char* fallback) {
  const char* value = getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  std::string home = home_folder();
  return home.empty() ? "" : home + "/" + fallback;
}

}  // namespace

status_t create_folders(const std::string& path, mode_t mode) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return status_from_errno();
    if (slash == std::string::npos) return B_OK;
  }
}

status_t find_directory(directory_which which, BPath* path, bool createIt) {
  if (path == nullptr) return B_BAD_VALUE;
  std::string folder;
  switch (which) {
    case B_USER_SETTINGS_DIRECTORY: folder = xdg_folder("XDG_CONFIG_HOME", ".config"); break;
    case B_USER_DATA_DIRECTORY: folder = xdg_folder("XDG_DATA_HOME", ".local/share"); break;
    case B_USER_DIRECTORY: folder = home_folder(); break;
    case B_USER_CACHE_DIRECTORY: folder = xdg_folder("XDG_CACHE_HOME", ".cache"); break;
  }
  if (folder.empty()) return B_ENTRY_NOT_FOUND;
  if (createIt) {
    if (status_t status = create_folders(folder); status != B_OK) return status;
  }
  // Set without resolving, so a folder that does not exist yet still has its path.
  return path->SetTo(folder.c_str());
}
