#include "ReplaceFile.h"

#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Entry.h"
#include "File.h"
#include "Path.h"

namespace {

constexpr time_t kStaleSeconds = 60;
constexpr int kNameAttempts = 16;

// Sixteen letters and digits from the kernel's random source: about 95 bits, not guessable
// by another user who would plant a link or a file at the name.
std::string random_name() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) return "";
  std::string name = kReplacePrefix;
  for (unsigned char b : bytes) name += kAlphabet[b % (sizeof kAlphabet - 1)];
  return name;
}

// Removes what killed replacements left behind: only regular files of this user, with our
// prefix and not touched for a minute (a live replacement takes well under that).
void remove_stale_temporaries(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  time_t now = time(nullptr);
  int fd = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    if (!is_replace_temporary(entry->d_name)) continue;
    struct stat st;
    if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid() || now - st.st_mtime < kStaleSeconds)
      continue;
    unlinkat(fd, entry->d_name, 0);
  }
  closedir(dir);
}

// Permissions for the new file: the old file's, or 0666 for open() to narrow by the umask.
mode_t permissions_for(const std::string& target) {
  struct stat st;
  if (lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  return 0666;
}

status_t create_temporary(const std::string& folder, mode_t permissions, BFile* file, std::string* path) {
  status_t status = B_FILE_EXISTS;
  for (int attempt = 0; attempt < kNameAttempts && status == B_FILE_EXISTS; ++attempt) {
    std::string name = random_name();
    if (name.empty()) return B_ERROR;
    *path = folder + "/" + name;
    BEntry entry(path->c_str(), false);
    status = entry.InitCheck() == B_OK ? file->CreateNew(&entry, permissions) : entry.InitCheck();
  }
  return status;
}

status_t write_all(BFile& file, const std::string& bytes) {
  ssize_t written = file.Write(bytes.data(), bytes.size());
  if (written < 0) return status_t(written);
  if (written != ssize_t(bytes.size())) return B_FILE_ERROR;
  return fsync(file.Descriptor()) == 0 ? B_OK : status_from_errno();
}

}  // namespace

bool is_replace_temporary(const char* name) {
  return name != nullptr && strncmp(name, kReplacePrefix, strlen(kReplacePrefix)) == 0;
}

status_t replace_file(const std::string& target, const std::string& bytes,
                      const std::function<status_t(BFile&)>& finish) {
  BPath parent;
  if (BPath(target.c_str()).GetParent(&parent) != B_OK) return B_BAD_VALUE;
  std::string folder = parent.Path();
  remove_stale_temporaries(folder);
  BFile file;
  std::string temporary;
  if (status_t status = create_temporary(folder, permissions_for(target), &file, &temporary); status != B_OK)
    return status;
  status_t status = write_all(file, bytes);
  if (status == B_OK && finish) status = finish(file);
  file.Unset();
  if (status == B_OK && rename(temporary.c_str(), target.c_str()) != 0) status = status_from_errno();
  if (status != B_OK) unlink(temporary.c_str());
  return status;
}
