// Entries of the file system: entry_ref names one by folder and leaf name, BEntry reaches it.
#pragma once

#include <memory>
#include <string>
#include <sys/stat.h>

#include "PathLink.h"
#include "SupportDefs.h"

class BDirectory;
class BPath;
class DirHandle;

// A reference to an entry: its device, the inode of its folder and its leaf name.
// Linux cannot open a folder by inode, so a ref also keeps the folder's path as it was when the
// ref was made; whoever resolves the ref checks that the path still names the same folder.
// Refs made in one folder share that path (and folders their ancestors'), so the refs of a
// deep walk cost memory per match, not per match times depth.
// Two refs to the same entry compare equal whatever paths they keep.
struct entry_ref {
  entry_ref();
  entry_ref(dev_t device, ino_t directory, const char* name);
  entry_ref(const entry_ref& other);
  entry_ref(entry_ref&& other) noexcept;
  entry_ref& operator=(const entry_ref& other);
  entry_ref& operator=(entry_ref&& other) noexcept;
  ~entry_ref();

  status_t set_name(const char* name);
  // The absolute path of the entry's folder, as it was when the ref was made; "" when unknown.
  std::string directory_path() const;
  void set_directory_path(std::string path);
  bool operator==(const entry_ref& other) const;
  bool operator!=(const entry_ref& other) const { return !(*this == other); }

  dev_t device;
  ino_t directory;
  char* name;  // owned copy of the leaf name, or null
  std::shared_ptr<const PathLink> directory_link;
};

// A reference to a node, for watching it. Linux watches by path, so the ref keeps the path
// it was made from too; the watch checks that the path still leads to this node.
struct node_ref {
  dev_t device = -1;
  ino_t node = -1;
  std::string path;
  bool operator==(const node_ref& other) const {
    return device == other.device && node == other.node;
  }
};

class BEntry {
 public:
  BEntry();
  // traverse: when the entry is a symbolic link, stand for what it points to instead.
  explicit BEntry(const char* path, bool traverse = false);
  explicit BEntry(const entry_ref* ref, bool traverse = false);
  BEntry(const BDirectory* dir, const char* path, bool traverse = false);
  BEntry(const BEntry&) = default;
  BEntry& operator=(const BEntry&) = default;
  virtual ~BEntry();

  status_t SetTo(const char* path, bool traverse = false);
  status_t SetTo(const entry_ref* ref, bool traverse = false);
  status_t SetTo(const BDirectory* dir, const char* path, bool traverse = false);
  void Unset();
  status_t InitCheck() const { return status_; }

  // True when something exists at the entry (an entry may name a file yet to be made).
  bool Exists() const;
  status_t GetStat(struct stat* st) const;
  // Reads an extended attribute of the entry itself (a link's own), without opening it:
  // getxattrat(2) on kernels from 6.13, else through the folder's /proc descriptor link.
  // Returns the length, B_ENTRY_NOT_FOUND when there is no such attribute, or -errno.
  ssize_t ReadAttr(const char* attr, void* buffer, size_t size) const;
  // Asks the kernel to start reading the first bytes of a regular file in the background (open,
  // posix_fadvise WILLNEED, close), so that a later read finds them cached. Nothing else is
  // opened or advised, and nothing on FUSE or network file systems. Returns true when the
  // file's first page could be read at once (a read that may not wait had it), and then asks
  // for nothing: the caller's guess that the cache is cold was wrong.
  bool Prefetch(off_t bytes) const;
  status_t GetRef(entry_ref* ref) const;
  status_t GetPath(BPath* path) const;
  status_t GetParent(BEntry* parent) const;
  status_t GetParent(BDirectory* parent) const;
  // Copies the leaf name into a buffer of at least B_FILE_NAME_LENGTH bytes.
  status_t GetName(char* buffer) const;
  const char* Name() const { return status_ == B_OK ? name_.c_str() : nullptr; }

  bool operator==(const BEntry& other) const;

 private:
  friend class BDirectory;
  friend class BNode;

  // Re-targets the entry at a name in an open folder; the walk's fast path.
  void Adopt(std::shared_ptr<const DirHandle> dir, const char* name);
  status_t SetFromPath(const std::string& path, bool traverse);
  status_t SetInFolder(std::shared_ptr<const DirHandle> dir, const std::string& relative,
                       bool traverse);
  status_t FollowLinks();

  std::shared_ptr<const DirHandle> dir_;
  std::string name_;
  status_t status_ = B_NO_INIT;
};

// Whether BEntry::ReadAttr may use getxattrat(2) (it stops by itself on a kernel without it);
// tests turn it off to try the older way.
void use_getxattrat_for_tests(bool use);
