// A regular file opened for reading, writing or both.
#pragma once

#include "Node.h"

class BDirectory;

enum : uint32 {
  B_READ_ONLY = 0x0000,
  B_WRITE_ONLY = 0x0001,
  B_READ_WRITE = 0x0002,
  B_FAIL_IF_EXISTS = 0x0100,
  B_CREATE_FILE = 0x0200,
  B_ERASE_FILE = 0x0400,
  B_OPEN_AT_END = 0x0800,
};

class BFile : public BNode {
 public:
  BFile();
  BFile(const BEntry* entry, uint32 openMode);
  BFile(const entry_ref* ref, uint32 openMode);
  BFile(const char* path, uint32 openMode);
  BFile(const BDirectory* dir, const char* path, uint32 openMode);

  // An entry or path that is a symbolic link opens the file it points to, as on the old
  // system; only SetToRegular keeps to the entry itself.
  status_t SetTo(const BEntry* entry, uint32 openMode);
  status_t SetTo(const entry_ref* ref, uint32 openMode);
  status_t SetTo(const char* path, uint32 openMode);
  status_t SetTo(const BDirectory* dir, const char* path, uint32 openMode);
  // Opens the entry itself read-only, never a link's target, and only when what is opened is
  // a regular file (checked on the open descriptor, so a file swapped for a device between
  // a listing and the open is refused with B_BAD_TYPE). This is how the walk reads files.
  // The status read on the open descriptor goes to st when given.
  status_t SetToRegular(const BEntry* entry, struct stat* st = nullptr);
  // Creates the entry as a new file open for writing, with permissions (less the umask) from
  // the start; fails with B_FILE_EXISTS when anything, a link included, already has its name.
  status_t CreateNew(const BEntry* entry, mode_t permissions);

  bool IsReadable() const;
  bool IsWritable() const;

  // Read returns the bytes read (0 at the end) or a negative status.
  ssize_t Read(void* buffer, size_t size);
  ssize_t ReadAt(off_t position, void* buffer, size_t size);
  // Write writes all the bytes or fails; it returns the count or a negative status.
  ssize_t Write(const void* buffer, size_t size);
  ssize_t WriteAt(off_t position, const void* buffer, size_t size);
  off_t Seek(off_t position, uint32 seekMode);
  off_t Position() const;
  status_t GetSize(off_t* size) const;
  status_t SetSize(off_t size);

 private:
  uint32 mode_ = 0;
};
