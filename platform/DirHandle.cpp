#include "DirHandle.h"

#include <climits>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// A long chain is let go one link at a time: a link dropped while another is being torn down
// on this thread hands its parent to that outer teardown instead of dropping it itself. Each
// link goes when its last owner lets go of it, through shared_ptr's own synchronisation, so
// links shared with other threads need no further care.
PathLink::~PathLink() {
  thread_local std::vector<std::shared_ptr<const PathLink>>* outer = nullptr;
  if (outer != nullptr) {
    outer->push_back(std::move(parent));
    return;
  }
  std::vector<std::shared_ptr<const PathLink>> pending{std::move(parent)};
  outer = &pending;
  while (!pending.empty()) {
    std::shared_ptr<const PathLink> next = std::move(pending.back());
    pending.pop_back();
    next.reset();  // when it was the last owner, the link's own parent joins pending
  }
  outer = nullptr;
}

std::shared_ptr<const PathLink> PathLink::Root(std::string path) {
  return std::make_shared<PathLink>(nullptr, std::move(path));
}

std::string PathLink::Path() const {
  std::vector<const PathLink*> chain;
  for (const PathLink* link = this; link != nullptr; link = link->parent.get()) chain.push_back(link);
  std::string path = chain.back()->name;
  for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
    if (path.empty() || path.back() != '/') path += '/';
    path += (*it)->name;
  }
  return path;
}

status_t path_of_fd(int fd, std::string* path) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t length = readlink(link, buffer.data(), buffer.size());
  if (length < 0) return status_from_errno();
  if (size_t(length) >= buffer.size()) return B_NAME_TOO_LONG;
  if (buffer[0] != '/') return B_ENTRY_NOT_FOUND;  // an anonymous or deleted object
  path->assign(buffer.data(), size_t(length));
  return B_OK;
}

// A name that stands for one entry of its folder, not ".", ".." or a relative path.
static bool is_plain_name(const char* name) {
  std::string_view view(name);
  return !view.empty() && view != "." && view != ".." && view.find('/') == view.npos;
}

static int dir_open_flags(bool forListing) {
  return (forListing ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC;
}

std::shared_ptr<const DirHandle> DirHandle::Adopt(int fd, std::shared_ptr<const PathLink> where,
                                                  status_t* status) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *status = status_from_errno();
    close(fd);
    return nullptr;
  }
  *status = B_OK;
  return std::shared_ptr<const DirHandle>(
      new DirHandle(fd, st.st_dev, st.st_ino, std::move(where)));
}

std::shared_ptr<const DirHandle> DirHandle::Open(const char* path, bool forListing,
                                                 status_t* status) {
  if (path == nullptr || *path == '\0') {
    *status = B_BAD_VALUE;
    return nullptr;
  }
  int fd = open(path, dir_open_flags(forListing));
  if (fd < 0) {
    *status = status_from_errno();
    return nullptr;
  }
  std::string resolved;
  *status = path_of_fd(fd, &resolved);
  if (*status != B_OK) {
    close(fd);
    return nullptr;
  }
  return Adopt(fd, PathLink::Root(std::move(resolved)), status);
}

std::shared_ptr<const DirHandle> DirHandle::OpenAt(const std::shared_ptr<const DirHandle>& parent,
                                                   const char* name, bool forListing,
                                                   status_t* status) {
  int fd = openat(parent->fd(), name, dir_open_flags(forListing) | O_NOFOLLOW);
  if (fd < 0) {
    *status = status_from_errno();
    return nullptr;
  }
  if (is_plain_name(name)) return Adopt(fd, std::make_shared<PathLink>(parent->where(), name), status);
  std::string resolved;
  if ((*status = path_of_fd(fd, &resolved)) != B_OK) {
    close(fd);
    return nullptr;
  }
  return Adopt(fd, PathLink::Root(std::move(resolved)), status);
}

std::shared_ptr<const DirHandle> DirHandle::Reopen(const std::shared_ptr<const DirHandle>& from,
                                                   const char* name,
                                                   std::shared_ptr<const PathLink> where,
                                                   status_t* status) {
  int fd = openat(from->fd(), name, dir_open_flags(true) | O_NOFOLLOW);
  if (fd < 0) {
    *status = status_from_errno();
    return nullptr;
  }
  return Adopt(fd, std::move(where), status);
}

DirHandle::~DirHandle() { close(fd_); }
