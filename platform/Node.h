// A file-system node held open, with its extended attributes.
#pragma once

#include <string>
#include <sys/stat.h>

#include "SupportDefs.h"

class BEntry;
struct entry_ref;

class BNode {
 public:
  BNode();
  explicit BNode(const BEntry* entry);
  explicit BNode(const entry_ref* ref);
  explicit BNode(const char* path);
  BNode(const BNode&) = delete;
  BNode& operator=(const BNode&) = delete;
  virtual ~BNode();

  // Opens the node the entry names; a symbolic link is opened as the link itself.
  status_t SetTo(const BEntry* entry);
  status_t SetTo(const entry_ref* ref);
  // A path is followed through links, as a path typed by a user would be.
  status_t SetTo(const char* path);
  void Unset();
  status_t InitCheck() const { return status_; }

  status_t GetStat(struct stat* st) const;

  // Attributes are Linux extended attributes and carry no type of their own; names are used
  // as given ("user.mime_type"). ReadAttr returns the attribute's length, or
  // B_ENTRY_NOT_FOUND when the node has no such attribute.
  ssize_t ReadAttr(const char* attr, void* buffer, size_t size) const;
  status_t WriteAttr(const char* attr, const void* buffer, size_t size);
  status_t RemoveAttr(const char* attr);
  // Copies every "user." attribute of this node onto another, except those named in skip.
  status_t CopyUserAttrsTo(BNode* other, const char* skip = nullptr) const;
  // Sets the permission bits (07777) of the node.
  status_t SetPermissions(mode_t permissions);

  // The leaf name the node was opened by, used to guess its type.
  const char* Name() const { return name_.c_str(); }
  // The open descriptor, or -1; for callers in the platform layer.
  int Descriptor() const { return fd_; }
  // True when the descriptor can read content (an O_PATH handle cannot).
  bool CanRead() const { return status_ == B_OK && !pathOnly_; }

 protected:
  // Opens with the given open(2) flags; a file it creates gets permissions, less the umask.
  // Plain nodes fall back to an O_PATH handle for links and unreadable files, so their
  // attributes can still be reached.
  status_t Open(const BEntry* entry, int flags, bool allowPathOnly, mode_t permissions = 0666);

 private:
  std::string AttrPath() const;

  int fd_ = -1;
  bool pathOnly_ = false;
  std::string name_;
  status_t status_ = B_NO_INIT;
};
