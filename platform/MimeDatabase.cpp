#include "MimeDatabase.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string_view>
#include <sys/stat.h>

namespace {

// Reads no file larger than this: the whole database's cache is a few hundred kilobytes.
constexpr std::streamsize kLargestFile = 64 << 20;

// The folders the desktop's MIME database is read from, as GIO's reader of it finds them: the
// user's (XDG_DATA_HOME, even empty, else HOME's), then each non-empty part of XDG_DATA_DIRS
// (when set, even empty, else the two usual ones).
std::vector<std::string> folders_from_environment() {
  std::vector<std::string> folders;
  if (const char* own = getenv("XDG_DATA_HOME")) folders.push_back(std::string(own) + "/mime");
  else if (const char* home = getenv("HOME")) folders.push_back(std::string(home) + "/.local/share/mime");
  const char* shared = getenv("XDG_DATA_DIRS");
  std::string_view list = shared != nullptr ? shared : "/usr/local/share/:/usr/share/";
  for (size_t start = 0; start <= list.size();) {
    size_t end = std::min(list.find(':', start), list.size());
    if (end > start) folders.push_back(std::string(list.substr(start, end - start)) + "/mime");
    start = end + 1;
  }
  return folders;
}

// What a file's status tells of a change to it ("" when it is missing).
std::string status_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string globs_status_of(const std::string& folder) {
  return status_of(folder + "/globs2") + "|" + status_of(folder + "/globs");
}

std::vector<MimeDatabaseFolder> read_database() {
  std::vector<MimeDatabaseFolder> read;
  for (const std::string& folder : mime_database_folders()) {
    MimeDatabaseFolder entry;
    entry.cacheStatus = status_of(folder + "/mime.cache");
    entry.magicStatus = status_of(folder + "/magic");
    entry.globsStatus = globs_status_of(folder);
    auto bytes = std::make_shared<std::string>();
    if (read_database_file(folder + "/mime.cache", bytes.get())) {
      entry.cache = std::move(bytes);
    } else {
      entry.uncachedRules = !entry.magicStatus.empty();
      entry.uncachedPatterns = entry.globsStatus != "|";
    }
    read.push_back(std::move(entry));
  }
  return read;
}

bool still_current(const std::vector<MimeDatabaseFolder>& read) {
  const std::vector<std::string>& folders = mime_database_folders();
  if (folders.size() != read.size()) return false;
  for (size_t i = 0; i < folders.size(); ++i)
    if (status_of(folders[i] + "/mime.cache") != read[i].cacheStatus ||
        status_of(folders[i] + "/magic") != read[i].magicStatus || globs_status_of(folders[i]) != read[i].globsStatus)
      return false;
  return true;
}

}  // namespace

const std::vector<std::string>& mime_database_folders() {
  static const std::vector<std::string> folders = folders_from_environment();
  return folders;
}

bool read_database_file(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
  if (size < 0 || size > kLargestFile) return false;
  bytes->resize(size_t(size));
  in.seekg(0);
  in.read(bytes->data(), size);
  bytes->resize(size_t(in.gcount()));
  return !in.bad();
}

std::shared_ptr<const std::vector<MimeDatabaseFolder>> mime_database() {
  static std::mutex mutex;
  static std::shared_ptr<const std::vector<MimeDatabaseFolder>> current;  // guarded by mutex
  std::lock_guard<std::mutex> guard(mutex);
  if (current == nullptr || !still_current(*current))
    current = std::make_shared<const std::vector<MimeDatabaseFolder>>(read_database());
  return current;
}

bool mime_cache_understood(const std::string& b) {
  return b.size() >= 40 && b[0] == 0 && b[1] == 1 && b[2] == 0 && (b[3] == 1 || b[3] == 2);
}
