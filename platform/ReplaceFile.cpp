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

}  // namespace

// A live replacement takes well under the minute a temporary must be left alone.
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

namespace {

// Permissions for the new file: the old file's, or 0666 for open() to narrow by the umask.
mode_t permissions_for(const std::string& target, mode_t newFileMode) {
  struct stat st;
  if (lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  return newFileMode;
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

status_t write_all(BFile& file, const std::string& bytes, bool sync) {
  ssize_t written = file.Write(bytes.data(), bytes.size());
  if (written < 0) return status_t(written);
  if (written != ssize_t(bytes.size())) return B_FILE_ERROR;
  return !sync || fsync(file.Descriptor()) == 0 ? B_OK : status_from_errno();
}

}  // namespace

bool is_replace_temporary(const char* name) {
  return name != nullptr && strncmp(name, kReplacePrefix, strlen(kReplacePrefix)) == 0;
}

status_t replace_file(const std::string& target, const std::string& bytes,
                      const std::function<status_t(BFile&)>& finish, const ReplaceOptions& options) {
  BPath parent;
  if (BPath(target.c_str()).GetParent(&parent) != B_OK) return B_BAD_VALUE;
  std::string folder = parent.Path();
  if (options.sweep) remove_stale_temporaries(folder);
  BFile file;
  std::string temporary;
  mode_t mode = permissions_for(target, mode_t(options.newFileMode));
  if (status_t status = create_temporary(folder, mode, &file, &temporary); status != B_OK) return status;
  status_t status = write_all(file, bytes, options.sync);
  if (status == B_OK && finish) status = finish(file);
  file.Unset();
  if (status == B_OK && rename(temporary.c_str(), target.c_str()) != 0) status = status_from_errno();
  if (status != B_OK) unlink(temporary.c_str());
  return status;
}

namespace {

// Whether the kernel would follow a link with this status in a folder with that status.
bool may_follow(const struct stat& link, const struct stat& folder) {
  bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

status_t link_target_for_writing(const std::string& path, std::string* target) {
  constexpr int kMostLinks = 40;  // the kernel's own bound
  std::string current = path;
  for (int hops = 0; hops <= kMostLinks; ++hops) {
    struct stat link, folder;
    if (lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
      *target = current;
      return B_OK;
    }
    std::string in = folder_of(current);
    if (stat(in.c_str(), &folder) != 0) return status_from_errno();
    if (!may_follow(link, folder)) return B_PERMISSION_DENIED;
    std::string to(size_t(link.st_size > 0 ? link.st_size : 4096) + 1, '\0');
    ssize_t length = readlink(current.c_str(), to.data(), to.size());
    if (length < 0) return status_from_errno();
    to.resize(size_t(length));
    current = !to.empty() && to.front() == '/' ? to : in + "/" + to;
  }
  return B_LINK_LIMIT;
}
