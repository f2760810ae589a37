#include "Entry.h"

#include <atomic>

#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "DirHandle.h"
#include "Directory.h"
#include "Path.h"

// ---- entry_ref

entry_ref::entry_ref() : device(-1), directory(-1), name(nullptr) {}

entry_ref::entry_ref(dev_t dev, ino_t dir, const char* leaf)
    : device(dev), directory(dir), name(nullptr) {
  set_name(leaf);
}

entry_ref::entry_ref(const entry_ref& other)
    : device(other.device), directory(other.directory), name(nullptr),
      directory_link(other.directory_link) {
  set_name(other.name);
}

entry_ref::entry_ref(entry_ref&& other) noexcept
    : device(other.device), directory(other.directory), name(other.name),
      directory_link(std::move(other.directory_link)) {
  other.name = nullptr;
}

entry_ref& entry_ref::operator=(const entry_ref& other) {
  if (this != &other) {
    device = other.device;
    directory = other.directory;
    directory_link = other.directory_link;
    set_name(other.name);
  }
  return *this;
}

entry_ref& entry_ref::operator=(entry_ref&& other) noexcept {
  if (this != &other) {
    free(name);
    device = other.device;
    directory = other.directory;
    name = other.name;
    directory_link = std::move(other.directory_link);
    other.name = nullptr;
  }
  return *this;
}

entry_ref::~entry_ref() { free(name); }

status_t entry_ref::set_name(const char* leaf) {
  char* copy = nullptr;
  if (leaf != nullptr && (copy = strdup(leaf)) == nullptr) return B_NO_MEMORY;
  free(name);
  name = copy;
  return B_OK;
}

std::string entry_ref::directory_path() const {
  return directory_link != nullptr ? directory_link->Path() : std::string();
}

void entry_ref::set_directory_path(std::string path) {
  directory_link = path.empty() ? nullptr : PathLink::Root(std::move(path));
}

bool entry_ref::operator==(const entry_ref& other) const {
  if (device != other.device || directory != other.directory) return false;
  if (name == nullptr || other.name == nullptr) return name == other.name;
  return strcmp(name, other.name) == 0;
}

// ---- BEntry

namespace {

constexpr int kMaxLinkHops = 40;
// The root folder has no parent and no name; it is kept as "." inside itself.
constexpr const char* kSelf = ".";

struct SplitPath {
  std::string parent;
  std::string leaf;
};

SplitPath split_path(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

BEntry::BEntry() = default;

BEntry::BEntry(const char* path, bool traverse) { SetTo(path, traverse); }

BEntry::BEntry(const entry_ref* ref, bool traverse) { SetTo(ref, traverse); }

BEntry::BEntry(const BDirectory* dir, const char* path, bool traverse) {
  SetTo(dir, path, traverse);
}

BEntry::~BEntry() = default;

void BEntry::Unset() {
  dir_.reset();
  name_.clear();
  status_ = B_NO_INIT;
}

void BEntry::Adopt(std::shared_ptr<const DirHandle> dir, const char* name) {
  dir_ = std::move(dir);
  name_.assign(name);
  status_ = B_OK;
}

status_t BEntry::SetTo(const char* path, bool traverse) {
  Unset();
  if (path == nullptr || *path == '\0') return status_ = B_BAD_VALUE;
  return status_ = SetFromPath(path, traverse);
}

status_t BEntry::SetTo(const entry_ref* ref, bool traverse) {
  Unset();
  if (ref == nullptr || ref->name == nullptr || ref->directory_link == nullptr)
    return status_ = B_BAD_VALUE;
  status_t status;
  auto dir = DirHandle::Open(ref->directory_path().c_str(), false, &status);
  if (dir == nullptr) return status_ = status;
  // The kept path must still lead to the folder the ref was made in.
  if (dir->device() != ref->device || dir->inode() != ref->directory)
    return status_ = B_ENTRY_NOT_FOUND;
  if (strchr(ref->name, '/') != nullptr) return status_ = B_BAD_VALUE;
  Adopt(std::move(dir), ref->name);
  status = traverse ? FollowLinks() : B_OK;
  if (status != B_OK) {
    Unset();
    status_ = status;
  }
  return status_;
}

status_t BEntry::SetTo(const BDirectory* dir, const char* path, bool traverse) {
  Unset();
  if (path == nullptr || *path == '\0') return status_ = B_BAD_VALUE;
  if (path[0] == '/') return status_ = SetFromPath(path, traverse);
  if (dir == nullptr || dir->InitCheck() != B_OK) return status_ = B_BAD_VALUE;
  return status_ = SetInFolder(dir->Handle(), path, traverse);
}

status_t BEntry::SetInFolder(std::shared_ptr<const DirHandle> dir, const std::string& relative,
                             bool traverse) {
  if (relative.find('/') != std::string::npos || relative == "." || relative == "..")
    return SetFromPath(dir->Path() + "/" + relative, traverse);
  if (relative.size() >= B_FILE_NAME_LENGTH) return B_NAME_TOO_LONG;
  Adopt(std::move(dir), relative.c_str());
  status_t status = traverse ? FollowLinks() : B_OK;
  if (status != B_OK) Unset();
  return status;
}

// Opens the folder part of the path and keeps the leaf name. Dots and links in the folder part
// are resolved by the kernel; a leaf of "." or ".." is resolved by opening the whole path.
status_t BEntry::SetFromPath(const std::string& path, bool traverse) {
  SplitPath split = split_path(path);
  status_t status;
  if (split.leaf.empty() || split.leaf == "." || split.leaf == "..") {
    auto whole = DirHandle::Open(path.c_str(), false, &status);
    if (whole == nullptr) return status;
    std::string resolved = whole->Path();
    if (resolved == "/") {
      Adopt(std::move(whole), kSelf);
      return B_OK;
    }
    split = split_path(resolved);
  }
  if (split.leaf.size() >= B_FILE_NAME_LENGTH) return B_NAME_TOO_LONG;
  auto parent = DirHandle::Open(split.parent.c_str(), false, &status);
  if (parent == nullptr) return status;
  Adopt(std::move(parent), split.leaf.c_str());
  status = traverse ? FollowLinks() : B_OK;
  if (status != B_OK) Unset();
  return status;
}

// Replaces a symbolic link by what it points to, hop by hop. A link to nothing leaves the
// entry naming the missing target, as long as the target's folder exists.
status_t BEntry::FollowLinks() {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (fstatat(dir_->fd(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
      return B_OK;
    std::vector<char> target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1);
    ssize_t length = readlinkat(dir_->fd(), name_.c_str(), target.data(), target.size() - 1);
    if (length < 0) return status_from_errno();
    std::string next(target.data(), size_t(length));
    if (next.empty()) return B_ENTRY_NOT_FOUND;
    if (next[0] != '/') next = dir_->Path() + "/" + next;
    status_t status = SetFromPath(next, false);
    if (status != B_OK) return status;
  }
  return B_LINK_LIMIT;
}

bool BEntry::Exists() const {
  struct stat st;
  return GetStat(&st) == B_OK;
}

status_t BEntry::GetStat(struct stat* st) const {
  if (status_ != B_OK) return status_;
  if (fstatat(dir_->fd(), name_.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) return status_from_errno();
  return B_OK;
}

namespace {

// getxattrat(2), Linux 6.13; the C library has no wrapper for it yet.
constexpr long kGetxattratCall = 464;
struct xattr_args {
  uint64_t value;
  uint32_t size;
  uint32_t flags;
};
// Until the kernel says it does not know the call, or a system-call filter refuses it; read
// and written by every thread of a search, so atomic (a thread that still tries the call once
// more only gets the same answer again).
std::atomic<bool> have_getxattrat{true};

ssize_t getxattr_through_proc(int dirFd, const char* name, const char* attr, void* buffer, size_t size) {
  std::string path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
  return lgetxattr(path.c_str(), attr, buffer, size);
}

ssize_t getxattr_at(int dirFd, const char* name, const char* attr, void* buffer, size_t size) {
  if (!have_getxattrat.load(std::memory_order_relaxed)) return getxattr_through_proc(dirFd, name, attr, buffer, size);
  xattr_args args{uint64_t(reinterpret_cast<uintptr_t>(buffer)), uint32_t(size), 0};
  long got = syscall(kGetxattratCall, dirFd, name, AT_SYMLINK_NOFOLLOW, attr, &args, sizeof args);
  if (got >= 0 || (errno != ENOSYS && errno != EPERM)) return got;
  // A kernel before 6.13 answers ENOSYS. A container's or a service's filter of the system
  // calls it does not know (Docker's, systemd's) answers EPERM, which reading an attribute
  // hardly ever gives otherwise: the call is given up unless the path gives EPERM as well.
  int refused = errno;
  ssize_t viaPath = getxattr_through_proc(dirFd, name, attr, buffer, size);
  if (refused == ENOSYS || viaPath >= 0 || errno != EPERM) have_getxattrat.store(false, std::memory_order_relaxed);
  return viaPath;
}

}  // namespace

void use_getxattrat_for_tests(bool use) { have_getxattrat.store(use); }

namespace {

// File systems whose read-ahead is a request of its own to a server or a user-space daemon: a
// later read does not wait for it but asks again, so a read that hangs would hang twice.
bool reads_ahead_by_request(int fd) {
  constexpr long kFuse = 0x65735546, kSmb2 = long(0xfe534d42), kCifs = long(0xff534d42), kV9fs = 0x01021997,
                 kCeph = 0x00c36400;
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return true;
  long type = long(fs.f_type);
  return type == kFuse || type == NFS_SUPER_MAGIC || type == kSmb2 || type == kCifs || type == kV9fs ||
         type == kCeph;
}

// Whether a regular file's first byte can be had without waiting: a read flagged RWF_NOWAIT
// fails with EAGAIN where it would wait for the disk, having started that read (the head is
// then on its way in, as asked). On a disk fast enough to finish it at once it succeeds, and
// reading ahead is no help there either. An empty file, or a file system that cannot tell,
// counts as not cached. (mincore(2) of a mapping tells without starting a read, but in a
// search of a cold Linux tree it made the whole search about a third slower.)
bool first_page_cached(int fd) {
  char byte;
  iovec one{&byte, 1};
  return preadv2(fd, &one, 1, 0, RWF_NOWAIT) == 1;
}

}  // namespace

// Opened without blocking and without taking a terminal, and advised only when it is still a
// regular file: what was listed as one may have been swapped for a pipe or a device since.
// Only a regular file's head is asked for, and not on a file system where that is a request
// of its own (above).
bool BEntry::Prefetch(off_t bytes) const {
  if (status_ != B_OK) return false;
  // A look first, so that a pipe or a device is not even opened (an open wakes a pipe's writer).
  struct stat st;
  if (fstatat(dir_->fd(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
  int fd = openat(dir_->fd(), name_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool cached = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    cached = first_page_cached(fd);
    if (!cached && !reads_ahead_by_request(fd)) posix_fadvise(fd, 0, bytes, POSIX_FADV_WILLNEED);
  }
  close(fd);
  return cached;
}

ssize_t BEntry::ReadAttr(const char* attr, void* buffer, size_t size) const {
  if (status_ != B_OK) return status_;
  if (attr == nullptr) return B_BAD_VALUE;
  ssize_t got = getxattr_at(dir_->fd(), name_.c_str(), attr, buffer, size);
  if (got >= 0) return got;
  return errno == ENODATA ? B_ENTRY_NOT_FOUND : status_from_errno();
}

status_t BEntry::GetRef(entry_ref* ref) const {
  if (status_ != B_OK) return status_;
  if (ref == nullptr) return B_BAD_VALUE;
  ref->device = dir_->device();
  ref->directory = dir_->inode();
  ref->directory_link = dir_->where();
  return ref->set_name(name_.c_str());
}

status_t BEntry::GetPath(BPath* path) const {
  if (status_ != B_OK) return status_;
  if (path == nullptr) return B_BAD_VALUE;
  if (name_ == kSelf) return path->SetTo(dir_->Path().c_str());
  return path->SetTo(dir_->Path().c_str(), name_.c_str());
}

status_t BEntry::GetParent(BEntry* parent) const {
  if (status_ != B_OK) return status_;
  if (parent == nullptr) return B_BAD_VALUE;
  if (name_ == kSelf) return B_ENTRY_NOT_FOUND;
  return parent->SetTo(dir_->Path().c_str());
}

status_t BEntry::GetParent(BDirectory* parent) const {
  if (status_ != B_OK) return status_;
  if (parent == nullptr) return B_BAD_VALUE;
  if (name_ == kSelf) return B_ENTRY_NOT_FOUND;
  return parent->SetTo(dir_->Path().c_str());
}

status_t BEntry::GetName(char* buffer) const {
  if (status_ != B_OK) return status_;
  if (buffer == nullptr) return B_BAD_VALUE;
  const std::string& shown = name_ == kSelf ? std::string("/") : name_;
  memcpy(buffer, shown.c_str(), shown.size() + 1);
  return B_OK;
}

bool BEntry::operator==(const BEntry& other) const {
  if (status_ != B_OK || other.status_ != B_OK) return status_ == other.status_;
  return dir_->device() == other.dir_->device() && dir_->inode() == other.dir_->inode() &&
         name_ == other.name_;
}
