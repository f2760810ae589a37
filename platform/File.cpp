#include "File.h"

#include <fcntl.h>
#include <unistd.h>

#include "Directory.h"
#include "Entry.h"

namespace {

int open_flags(uint32 mode) {
  int flags;
  switch (mode & 3) {
    case B_WRITE_ONLY: flags = O_WRONLY; break;
    case B_READ_WRITE: flags = O_RDWR; break;
    // Reading never waits on a named pipe that slipped in where a file was.
    default: flags = O_RDONLY | O_NONBLOCK; break;
  }
  if (mode & B_CREATE_FILE) flags |= O_CREAT;
  if (mode & B_FAIL_IF_EXISTS) flags |= O_EXCL;
  if (mode & B_ERASE_FILE) flags |= O_TRUNC;
  if (mode & B_OPEN_AT_END) flags |= O_APPEND;
  return flags;
}

}  // namespace

BFile::BFile() = default;

BFile::BFile(const BEntry* entry, uint32 openMode) { SetTo(entry, openMode); }

BFile::BFile(const entry_ref* ref, uint32 openMode) { SetTo(ref, openMode); }

BFile::BFile(const char* path, uint32 openMode) { SetTo(path, openMode); }

BFile::BFile(const BDirectory* dir, const char* path, uint32 openMode) {
  SetTo(dir, path, openMode);
}

status_t BFile::SetTo(const BEntry* entry, uint32 openMode) {
  mode_ = openMode;
  return Open(entry, open_flags(openMode), false);
}

status_t BFile::SetToRegular(const BEntry* entry, struct stat* status) {
  mode_ = B_READ_ONLY;
  if (Open(entry, O_RDONLY | O_NONBLOCK | O_NOFOLLOW, false) != B_OK) return InitCheck();
  // What was listed as a regular file may have been swapped for a device or a pipe since.
  struct stat own;
  struct stat& st = status != nullptr ? *status : own;
  if (GetStat(&st) != B_OK || !S_ISREG(st.st_mode)) {
    Unset();
    return B_BAD_TYPE;
  }
  return B_OK;
}

status_t BFile::CreateNew(const BEntry* entry, mode_t permissions) {
  mode_ = B_WRITE_ONLY;
  return Open(entry, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, false, permissions & 07777);
}

status_t BFile::SetTo(const entry_ref* ref, uint32 openMode) {
  BEntry entry(ref);
  return SetTo(&entry, openMode);
}

status_t BFile::SetTo(const char* path, uint32 openMode) {
  BEntry entry(path, true);
  return SetTo(&entry, openMode);
}

status_t BFile::SetTo(const BDirectory* dir, const char* path, uint32 openMode) {
  BEntry entry(dir, path, true);
  return SetTo(&entry, openMode);
}

bool BFile::IsReadable() const {
  return InitCheck() == B_OK && (mode_ & 3) != B_WRITE_ONLY;
}

bool BFile::IsWritable() const {
  return InitCheck() == B_OK && (mode_ & 3) != B_READ_ONLY;
}

ssize_t BFile::Read(void* buffer, size_t size) {
  if (InitCheck() != B_OK) return InitCheck();
  ssize_t got;
  do {
    got = read(Descriptor(), buffer, size);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? status_from_errno() : got;
}

ssize_t BFile::ReadAt(off_t position, void* buffer, size_t size) {
  if (InitCheck() != B_OK) return InitCheck();
  ssize_t got;
  do {
    got = pread(Descriptor(), buffer, size, position);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? status_from_errno() : got;
}

// Writes every byte, at the file position (position < 0) or at the given offset.
static ssize_t write_all(int fd, const void* buffer, size_t size, off_t position) {
  const char* bytes = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t put = position < 0 ? write(fd, bytes + done, size - done)
                               : pwrite(fd, bytes + done, size - done, position + off_t(done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return status_from_errno();
    if (put == 0) return B_FILE_ERROR;
    done += size_t(put);
  }
  return ssize_t(done);
}

ssize_t BFile::Write(const void* buffer, size_t size) {
  if (InitCheck() != B_OK) return InitCheck();
  return write_all(Descriptor(), buffer, size, -1);
}

ssize_t BFile::WriteAt(off_t position, const void* buffer, size_t size) {
  if (InitCheck() != B_OK) return InitCheck();
  if (position < 0) return B_BAD_VALUE;
  return write_all(Descriptor(), buffer, size, position);
}

off_t BFile::Seek(off_t position, uint32 seekMode) {
  if (InitCheck() != B_OK) return InitCheck();
  off_t result = lseek(Descriptor(), position, int(seekMode));
  return result < 0 ? status_from_errno() : result;
}

off_t BFile::Position() const {
  if (InitCheck() != B_OK) return InitCheck();
  off_t result = lseek(Descriptor(), 0, SEEK_CUR);
  return result < 0 ? status_from_errno() : result;
}

status_t BFile::GetSize(off_t* size) const {
  struct stat st;
  status_t status = GetStat(&st);
  if (status == B_OK) *size = st.st_size;
  return status;
}

status_t BFile::SetSize(off_t size) {
  if (InitCheck() != B_OK) return InitCheck();
  return ftruncate(Descriptor(), size) == 0 ? B_OK : status_from_errno();
}
