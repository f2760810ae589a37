// An open folder through which entries are reached by name (openat, fstatat), so that no
// operation of the platform layer depends on the length of a path. Internal to the layer.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

#include "PathLink.h"
#include "SupportDefs.h"


class DirHandle {
 public:
  // Opens an absolute or relative folder path. forListing asks for a descriptor that can be
  // read for entries; otherwise an O_PATH descriptor, which needs only search permission.
  static std::shared_ptr<const DirHandle> Open(const char* path, bool forListing, status_t* status);
  // Opens the folder `name` inside `parent`, never following a link in its place.
  static std::shared_ptr<const DirHandle> OpenAt(const std::shared_ptr<const DirHandle>& parent,
                                                 const char* name, bool forListing,
                                                 status_t* status);
  // Opens `name` inside `from` for listing and gives it a known place, for a folder reopened
  // by a relative name such as "..".
  static std::shared_ptr<const DirHandle> Reopen(const std::shared_ptr<const DirHandle>& from,
                                                 const char* name,
                                                 std::shared_ptr<const PathLink> where,
                                                 status_t* status);
  ~DirHandle();
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;

  int fd() const { return fd_; }
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }
  std::string Path() const { return where_->Path(); }
  const std::shared_ptr<const PathLink>& where() const { return where_; }

 private:
  DirHandle(int fd, dev_t device, ino_t inode, std::shared_ptr<const PathLink> where)
      : fd_(fd), device_(device), inode_(inode), where_(std::move(where)) {}
  static std::shared_ptr<const DirHandle> Adopt(int fd, std::shared_ptr<const PathLink> where,
                                                status_t* status);

  int fd_;
  dev_t device_;
  ino_t inode_;
  std::shared_ptr<const PathLink> where_;
};

// The absolute, link-free path of an open descriptor, as the kernel reports it.
status_t path_of_fd(int fd, std::string* path);
