#include "Path.h"

#include <cstring>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "Entry.h"

namespace {

// True when the path has "." or ".." components, repeated slashes or a trailing slash.
bool needs_normalizing(const std::string& path) {
  if (path.size() > 1 && path.back() == '/') return true;
  if (path.find("//") != std::string::npos) return true;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string_view part(path.data() + start, end - start);
    if (part == "." || part == "..") return true;
    start = end + 1;
  }
  return false;
}

status_t current_folder(std::string* folder) {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return status_from_errno();
    buffer.resize(buffer.size() * 2);
  }
  folder->assign(buffer.data());
  return B_OK;
}

}  // namespace

BPath::BPath() = default;

BPath::BPath(const char* dir, const char* leaf, bool normalize) { SetTo(dir, leaf, normalize); }

BPath::BPath(const BEntry* entry) { SetTo(entry); }

BPath::BPath(const entry_ref* ref) { SetTo(ref); }

void BPath::Unset() {
  path_.clear();
  status_ = B_NO_INIT;
}

status_t BPath::SetTo(const char* dir, const char* leaf, bool normalize) {
  Unset();
  if (dir == nullptr || *dir == '\0') return status_ = B_BAD_VALUE;
  if (leaf != nullptr && leaf[0] == '/') return status_ = B_BAD_VALUE;
  std::string path = dir;
  if (path[0] != '/') {
    std::string here;
    if (status_t status = current_folder(&here); status != B_OK) return status_ = status;
    path = here + "/" + path;
  }
  if (leaf != nullptr && *leaf != '\0') path += "/" + std::string(leaf);
  if (normalize || needs_normalizing(path)) {
    BEntry entry(path.c_str());
    BPath resolved;
    if (entry.InitCheck() != B_OK) return status_ = entry.InitCheck();
    if (status_t status = entry.GetPath(&resolved); status != B_OK) return status_ = status;
    path = resolved.path_;
  }
  path_ = std::move(path);
  return status_ = B_OK;
}

status_t BPath::SetTo(const BEntry* entry) {
  Unset();
  if (entry == nullptr) return status_ = B_BAD_VALUE;
  return status_ = entry->GetPath(this);
}

status_t BPath::SetTo(const entry_ref* ref) {
  Unset();
  BEntry entry(ref);
  if (entry.InitCheck() != B_OK) return status_ = entry.InitCheck();
  return status_ = entry.GetPath(this);
}

const char* BPath::Leaf() const {
  if (status_ != B_OK) return nullptr;
  return path_.c_str() + path_.rfind('/') + 1;
}

status_t BPath::Append(const char* leaf, bool normalize) {
  if (status_ != B_OK) return status_;
  std::string base = path_;
  return SetTo(base.c_str(), leaf, normalize);
}

status_t BPath::GetParent(BPath* parent) const {
  if (status_ != B_OK) return status_;
  if (parent == nullptr) return B_BAD_VALUE;
  if (path_ == "/") return B_ENTRY_NOT_FOUND;
  size_t slash = path_.rfind('/');
  parent->path_ = slash == 0 ? "/" : path_.substr(0, slash);
  return parent->status_ = B_OK;
}

bool BPath::operator==(const BPath& other) const {
  return status_ == other.status_ && path_ == other.path_;
}

bool BPath::operator==(const char* path) const {
  return status_ == B_OK && path != nullptr && path_ == path;
}
