#include "Node.h"

#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "DirHandle.h"
#include "Entry.h"

namespace {

status_t attr_status() { return errno == ENODATA ? B_ENTRY_NOT_FOUND : status_from_errno(); }

}  // namespace

BNode::BNode() = default;

BNode::BNode(const BEntry* entry) { SetTo(entry); }

BNode::BNode(const entry_ref* ref) { SetTo(ref); }

BNode::BNode(const char* path) { SetTo(path); }

BNode::~BNode() { Unset(); }

void BNode::Unset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  pathOnly_ = false;
  name_.clear();
  status_ = B_NO_INIT;
}

status_t BNode::Open(const BEntry* entry, int flags, bool allowPathOnly, mode_t permissions) {
  Unset();
  if (entry == nullptr || entry->InitCheck() != B_OK) return status_ = B_BAD_VALUE;
  int dirFd = entry->dir_->fd();
  const char* name = entry->name_.c_str();
  int fd;
  do {
    fd = openat(dirFd, name, flags | O_CLOEXEC | O_NOCTTY, permissions);  // the umask applies
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && allowPathOnly && (errno == ELOOP || errno == EACCES)) {
    fd = openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    pathOnly_ = fd >= 0;
  }
  if (fd < 0) return status_ = status_from_errno();
  fd_ = fd;
  name_ = entry->name_;
  return status_ = B_OK;
}

status_t BNode::SetTo(const BEntry* entry) {
  // O_NONBLOCK: opening a named pipe must not wait for a writer.
  return Open(entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, true);
}

status_t BNode::SetTo(const entry_ref* ref) {
  BEntry entry(ref);
  return SetTo(&entry);
}

status_t BNode::SetTo(const char* path) {
  BEntry entry(path, true);
  return SetTo(&entry);
}

status_t BNode::GetStat(struct stat* st) const {
  if (status_ != B_OK) return status_;
  if (fstat(fd_, st) != 0) return status_from_errno();
  return B_OK;
}

// Extended attributes cannot be read through an O_PATH descriptor, but they can through its
// /proc link, which leads to the same inode.
std::string BNode::AttrPath() const { return "/proc/self/fd/" + std::to_string(fd_); }

ssize_t BNode::ReadAttr(const char* attr, void* buffer, size_t size) const {
  if (status_ != B_OK) return status_;
  ssize_t got = pathOnly_ ? getxattr(AttrPath().c_str(), attr, buffer, size)
                          : fgetxattr(fd_, attr, buffer, size);
  return got < 0 ? attr_status() : got;
}

status_t BNode::WriteAttr(const char* attr, const void* buffer, size_t size) {
  if (status_ != B_OK) return status_;
  int result = pathOnly_ ? setxattr(AttrPath().c_str(), attr, buffer, size, 0)
                         : fsetxattr(fd_, attr, buffer, size, 0);
  return result < 0 ? attr_status() : B_OK;
}

status_t BNode::RemoveAttr(const char* attr) {
  if (status_ != B_OK) return status_;
  int result = pathOnly_ ? removexattr(AttrPath().c_str(), attr) : fremovexattr(fd_, attr);
  return result < 0 ? attr_status() : B_OK;
}

status_t BNode::CopyUserAttrsTo(BNode* other, const char* skip) const {
  if (status_ != B_OK) return status_;
  if (other == nullptr || other->InitCheck() != B_OK) return B_BAD_VALUE;
  std::string names(1024, '\0');
  ssize_t length;
  while ((length = pathOnly_ ? listxattr(AttrPath().c_str(), names.data(), names.size())
                             : flistxattr(fd_, names.data(), names.size())) < 0 &&
         errno == ERANGE)
    names.resize(names.size() * 2);
  if (length < 0) return errno == ENOTSUP ? B_OK : status_from_errno();
  std::string value;
  for (size_t at = 0; at < size_t(length); at += strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    if (strncmp(name, "user.", 5) != 0 || (skip != nullptr && strcmp(name, skip) == 0)) continue;
    ssize_t size = ReadAttr(name, nullptr, 0);
    if (size < 0) return status_t(size);
    value.resize(size_t(size));
    size = ReadAttr(name, value.data(), value.size());
    if (size < 0) return status_t(size);
    if (status_t status = other->WriteAttr(name, value.data(), size_t(size)); status != B_OK) return status;
  }
  return B_OK;
}

status_t BNode::SetPermissions(mode_t permissions) {
  if (status_ != B_OK) return status_;
  int result = pathOnly_ ? chmod(AttrPath().c_str(), permissions & 07777) : fchmod(fd_, permissions & 07777);
  return result == 0 ? B_OK : status_from_errno();
}
