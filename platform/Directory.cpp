#include "Directory.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "DirHandle.h"
#include "File.h"

namespace {

entry_kind kind_of_listed(unsigned char type) {
  switch (type) {
    case DT_UNKNOWN: return entry_kind::unknown;
    case DT_REG: return entry_kind::file;
    case DT_DIR: return entry_kind::folder;
    default: return entry_kind::other;
  }
}

}  // namespace

entry_kind kind_of(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return entry_kind::file;
  if (S_ISDIR(st.st_mode)) return entry_kind::folder;
  return entry_kind::other;
}

BDirectory::BDirectory() = default;

BDirectory::BDirectory(const char* path) { SetTo(path); }

BDirectory::BDirectory(const BEntry* entry) { SetTo(entry); }

BDirectory::BDirectory(const entry_ref* ref) { SetTo(ref); }

BDirectory::~BDirectory() = default;

void BDirectory::Unset() {
  dir_.reset();
  buffer_.reset();
  filled_ = offset_ = 0;
  position_ = 0;
  suspended_ = false;
  suspendedWhere_.reset();
  status_ = B_NO_INIT;
}

status_t BDirectory::Adopt(std::shared_ptr<const DirHandle> dir, status_t status) {
  if (dir == nullptr) return status_ = status;
  dir_ = std::move(dir);
  return status_ = B_OK;
}

status_t BDirectory::SetTo(const char* path) {
  Unset();
  status_t status;
  auto dir = DirHandle::Open(path, true, &status);
  return Adopt(std::move(dir), status);
}

status_t BDirectory::SetTo(const BEntry* entry) {
  Unset();
  if (entry == nullptr || entry->InitCheck() != B_OK) return status_ = B_BAD_VALUE;
  status_t status;
  auto dir = DirHandle::OpenAt(entry->dir_, entry->name_.c_str(), true, &status);
  return Adopt(std::move(dir), status);
}

status_t BDirectory::SetTo(const entry_ref* ref) {
  Unset();
  BEntry entry(ref);
  if (entry.InitCheck() != B_OK) return status_ = entry.InitCheck();
  return SetTo(&entry);
}

status_t BDirectory::FillBuffer() {
  if (buffer_ == nullptr) buffer_.reset(new char[kBufferSize]);
  ssize_t got;
  do {
    got = getdents64(dir_->fd(), buffer_.get(), kBufferSize);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return status_from_errno();
  filled_ = size_t(got);
  offset_ = 0;
  return got == 0 ? B_ENTRY_NOT_FOUND : B_OK;
}

status_t BDirectory::GetNextEntry(BEntry* entry, bool traverse) {
  if (status_t ready = Ready(); ready != B_OK) return ready;
  if (entry == nullptr) return B_BAD_VALUE;
  for (;;) {
    if (offset_ >= filled_) {
      if (status_t status = FillBuffer(); status != B_OK) return status;
    }
    auto* record = reinterpret_cast<const dirent64*>(buffer_.get() + offset_);
    offset_ += record->d_reclen;
    position_ = record->d_off;
    lastKind_ = kind_of_listed(record->d_type);
    const char* name = record->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    if (!traverse) {
      entry->Adopt(dir_, name);
      return B_OK;
    }
    return entry->SetTo(this, name, true);
  }
}

status_t BDirectory::Rewind() {
  if (status_t ready = Ready(); ready != B_OK) return ready;
  if (lseek(dir_->fd(), 0, SEEK_SET) < 0) return status_from_errno();
  filled_ = offset_ = 0;
  position_ = 0;
  return B_OK;
}

status_t BDirectory::GetStatFor(const char* path, struct stat* st) const {
  if (status_t ready = Ready(); ready != B_OK) return ready;
  if (path == nullptr || st == nullptr) return B_BAD_VALUE;
  if (fstatat(dir_->fd(), path, st, AT_SYMLINK_NOFOLLOW) != 0) return status_from_errno();
  return B_OK;
}

status_t BDirectory::CreateFile(const char* path, BFile* file, bool failIfExists) {
  if (status_t ready = Ready(); ready != B_OK) return ready;
  if (file == nullptr) return B_BAD_VALUE;
  uint32 mode = B_READ_WRITE | B_CREATE_FILE | (failIfExists ? B_FAIL_IF_EXISTS : B_ERASE_FILE);
  return file->SetTo(this, path, mode);
}

status_t BDirectory::GetEntry(BEntry* entry) const {
  if (status_t ready = Ready(); ready != B_OK) return ready;
  if (entry == nullptr) return B_BAD_VALUE;
  return entry->SetTo(dir_->Path().c_str());
}

status_t BDirectory::GetNodeRef(node_ref* ref) const {
  if (status_t ready = Ready(); ready != B_OK) return ready;
  if (ref == nullptr) return B_BAD_VALUE;
  ref->device = dir_->device();
  ref->node = dir_->inode();
  ref->path = dir_->Path();
  return B_OK;
}

status_t BDirectory::Suspend() {
  if (status_ != B_OK || suspended_) return status_;
  suspendedDevice_ = dir_->device();
  suspendedInode_ = dir_->inode();
  suspendedWhere_ = dir_->where();
  dir_.reset();
  buffer_.reset();
  filled_ = offset_ = 0;
  suspended_ = true;
  return B_OK;
}

status_t BDirectory::ResumeFromChild(const BDirectory& child) {
  if (!suspended_) return status_;
  if (child.InitCheck() != B_OK || child.IsSuspended()) return B_BAD_VALUE;
  status_t status;
  auto dir = DirHandle::Reopen(child.dir_, "..", suspendedWhere_, &status);
  if (dir == nullptr) return status;
  // The tree may have changed since: only the very folder that was left goes on.
  if (dir->device() != suspendedDevice_ || dir->inode() != suspendedInode_) return B_ENTRY_NOT_FOUND;
  if (lseek(dir->fd(), position_, SEEK_SET) < 0) return status_from_errno();
  dir_ = std::move(dir);
  suspended_ = false;
  suspendedWhere_.reset();
  return B_OK;
}
