// A folder: its entries in the order the file system lists them, and files made in it.
#pragma once

#include <memory>
#include <sys/stat.h>

#include "Entry.h"
#include "SupportDefs.h"

class BFile;
class DirHandle;

// What an entry of a folder is, as far as a walk cares.
enum class entry_kind { unknown, file, folder, other };
// The kind a status tells (a link is other).
entry_kind kind_of(const struct stat& st);

class BDirectory {
 public:
  BDirectory();
  explicit BDirectory(const char* path);
  explicit BDirectory(const BEntry* entry);
  explicit BDirectory(const entry_ref* ref);
  BDirectory(const BDirectory&) = delete;
  BDirectory& operator=(const BDirectory&) = delete;
  ~BDirectory();

  status_t SetTo(const char* path);
  // Opens the folder the entry names; a symbolic link is not followed.
  status_t SetTo(const BEntry* entry);
  status_t SetTo(const entry_ref* ref);
  void Unset();
  status_t InitCheck() const { return status_; }

  // The next entry, never "." or ".."; B_ENTRY_NOT_FOUND at the end of the folder.
  status_t GetNextEntry(BEntry* entry, bool traverse = false);
  status_t Rewind();
  // The kind the listing gave for the last entry handed out; unknown on file systems that do
  // not tell (getdents64's DT_UNKNOWN), where GetStatFor must.
  entry_kind LastEntryKind() const { return lastKind_; }
  // The status of the entry itself at a path relative to this folder (a link shows as a link).
  status_t GetStatFor(const char* path, struct stat* st) const;
  // Creates a file, or opens and empties an existing one unless failIfExists.
  status_t CreateFile(const char* path, BFile* file, bool failIfExists = false);
  // The entry of this folder itself.
  status_t GetEntry(BEntry* entry) const;
  status_t GetNodeRef(node_ref* ref) const;

  // A deep walk cannot hold every folder of its path open. Suspend closes the folder's
  // descriptor and drops its buffer, keeping where the listing stands; ResumeFromChild reopens
  // it as ".." of an open sub-folder, checks it is the same folder, and goes on from there.
  status_t Suspend();
  bool IsSuspended() const { return suspended_; }
  status_t ResumeFromChild(const BDirectory& child);

  const std::shared_ptr<const DirHandle>& Handle() const { return dir_; }

 private:
  status_t Adopt(std::shared_ptr<const DirHandle> dir, status_t status);
  status_t FillBuffer();
  // B_OK when the folder is open, B_NO_INIT while it is suspended.
  status_t Ready() const { return suspended_ ? B_NO_INIT : status_; }

  // Entries are read with getdents64 into a small buffer: a deep walk holds one folder open
  // per level, so the buffer is kept small rather than the C library's 32 KiB.
  static constexpr size_t kBufferSize = 8192;
  std::shared_ptr<const DirHandle> dir_;
  std::unique_ptr<char[]> buffer_;
  size_t filled_ = 0;
  size_t offset_ = 0;
  off_t position_ = 0;  // the listing position after the last entry handed out
  entry_kind lastKind_ = entry_kind::unknown;
  bool suspended_ = false;
  dev_t suspendedDevice_ = 0;
  ino_t suspendedInode_ = 0;
  std::shared_ptr<const PathLink> suspendedWhere_;
  status_t status_ = B_NO_INIT;
};
