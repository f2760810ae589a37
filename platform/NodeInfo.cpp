#include "NodeInfo.h"

#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <unistd.h>

#include "Entry.h"
#include "GioOnDemand.h"
#include "MimeGuess.h"
#include "Node.h"
#include "TextTypes.h"

namespace {

// How much of a file's head the content guess reads.
constexpr size_t kSniffSize = 4096;
// What shared-mime-info answers when it knows nothing about a file.
constexpr const char* kUnknownType = "application/octet-stream";

// Copies a guess into the caller's buffer; false for no usable type.
bool take_type(const char* guess, char* type) {
  bool usable = guess != nullptr && strcmp(guess, kUnknownType) != 0 && strlen(guess) < B_MIME_TYPE_LENGTH;
  if (usable) strcpy(type, guess);
  return usable;
}

// Ends an attribute value read into out (at most B_MIME_TYPE_LENGTH - 1 bytes) as a string.
status_t take_string_attr(ssize_t got, char* out) {
  if (got == -ERANGE) return B_BAD_VALUE;  // longer than any type or signature may be
  if (got < 0) return status_t(got);
  while (got > 0 && out[got - 1] == '\0') --got;  // some tools store the terminator
  if (got == 0 || memchr(out, '\0', size_t(got)) != nullptr) return B_BAD_VALUE;
  out[got] = '\0';
  return B_OK;
}

// The type a name gives: one pattern's type is certain, several leave the best of them
// uncertain, none leaves kUnknownType uncertain (B_TYPE_NEEDS_CONTENT), as GIO says.
status_t take_name_guess(const char* guess, bool uncertain, char* type) {
  bool usable = take_type(guess, type);
  if (!uncertain) return usable ? B_OK : B_ENTRY_NOT_FOUND;
  if (!usable) strcpy(type, kUnknownType);
  return B_TYPE_NEEDS_CONTENT;
}

// The type the name alone gives; B_TYPE_NEEDS_CONTENT when it leaves the type uncertain.
// Read from the database's patterns without a lock, or by GIO where they cannot answer.
status_t guess_by_name(const char* name, char* type) {
  const MimeGuess* guess = MimeGuess::Current();
  const char* ours;
  bool oursUncertain;
  if (guess != nullptr && guess->ByName(name, &ours, &oursUncertain)) return take_name_guess(ours, oursUncertain, type);
  bool uncertain;
  std::optional<std::string> byName = gio_on_demand::content_type_guess(name, nullptr, 0, &uncertain);
  return take_name_guess(byName ? byName->c_str() : nullptr, uncertain, type);
}

status_t guess_by_content(int fd, const char* name, char* type) {
  unsigned char head[kSniffSize];
  ssize_t got = pread(fd, head, sizeof head, 0);
  if (got <= 0) return B_ENTRY_NOT_FOUND;
  const MimeGuess* guess = MimeGuess::Current();
  const char* ours;
  bool oursUncertain;
  if (guess != nullptr && guess->ByContent(name, head, size_t(got), &ours, &oursUncertain))
    return take_type(ours, type) ? B_OK : B_ENTRY_NOT_FOUND;
  bool uncertain;
  std::optional<std::string> byContent = gio_on_demand::content_type_guess(name, head, size_t(got), &uncertain);
  return byContent && take_type(byContent->c_str(), type) ? B_OK : B_ENTRY_NOT_FOUND;
}

// Content guesses for the life of the process, by file name and everything the status tells
// of a change: a rename, a new attribute or new content moves the change time, a rewrite the
// modification time and usually the size, so a changed file is never served an old guess.
struct SniffKey {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified, changed;
  std::string name;
  bool operator==(const SniffKey& o) const {
    return device == o.device && inode == o.inode && size == o.size && name == o.name &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

struct SniffKeyHash {
  size_t operator()(const SniffKey& k) const {
    return std::hash<ino_t>()(k.inode) ^ (std::hash<long>()(k.changed.tv_nsec) << 1) ^
           (std::hash<std::string>()(k.name) << 2);
  }
};

// Bounded, so that searching millions of files cannot grow it without end.
constexpr size_t kMaxSniffCache = 1 << 19;
// Shared by the threads of a search; guarded by sniff_mutex.
std::mutex sniff_mutex;
std::unordered_map<SniffKey, std::string, SniffKeyHash> sniff_cache;

// Where timestamps are coarse (a second on ext4 with small inodes, two on FAT), a file
// rewritten within the same tick keeps its size and times, so a guess made while its times
// are that recent could outlive the content it was made from. Such guesses are not cached:
// git's "racily clean" rule. The margin covers the coarsest file systems and the kernel's
// coarse clock.
constexpr time_t kRacyMarginSeconds = 3;

bool too_recent_to_cache(const struct stat& st) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  time_t settled = now.tv_sec - kRacyMarginSeconds;
  return st.st_mtim.tv_sec >= settled || st.st_ctim.tv_sec >= settled;
}

// A textual type is read by its text/ name (TextTypes.h), whether stored or guessed.
void use_text_name(char* type) {
  std::string name = text_name_of(type);
  if (name.size() < B_MIME_TYPE_LENGTH) memcpy(type, name.c_str(), name.size() + 1);
}

}  // namespace

BNodeInfo::BNodeInfo() = default;

BNodeInfo::BNodeInfo(BNode* node) { SetTo(node); }

status_t BNodeInfo::SetTo(BNode* node) {
  node_ = node;
  if (node == nullptr) return status_ = B_BAD_VALUE;
  return status_ = node->InitCheck();
}

status_t BNodeInfo::ReadStringAttr(const char* attr, char* out) const {
  return take_string_attr(node_->ReadAttr(attr, out, B_MIME_TYPE_LENGTH - 1), out);
}

status_t BNodeInfo::WriteStringAttr(const char* attr, const char* value) {
  if (value == nullptr || *value == '\0') {
    status_t status = node_->RemoveAttr(attr);
    return status == B_ENTRY_NOT_FOUND ? B_OK : status;
  }
  size_t length = strlen(value);
  if (length >= B_MIME_TYPE_LENGTH) return B_BAD_VALUE;
  return node_->WriteAttr(attr, value, length);
}

status_t BNodeInfo::GetType(char* type) const {
  if (status_ != B_OK) return status_;
  if (type == nullptr) return B_BAD_VALUE;
  status_t status = ReadStringAttr(kTypeAttr, type);
  if (status != B_OK) status = guess_by_name(node_->Name(), type);
  if (status == B_TYPE_NEEDS_CONTENT)
    status = node_->CanRead() ? guess_by_content(node_->Descriptor(), node_->Name(), type) : B_ENTRY_NOT_FOUND;
  if (status == B_OK) use_text_name(type);
  return status;
}

status_t BNodeInfo::GetTypeWithoutContent(const BEntry& entry, char* type) {
  status_t status = GetStoredType(entry, type);
  return status == B_OK || status == B_BAD_VALUE ? status : GetTypeByName(entry, type);
}

status_t BNodeInfo::GetTypeByName(const BEntry& entry, char* type) {
  if (type == nullptr || entry.InitCheck() != B_OK) return B_BAD_VALUE;
  status_t status = guess_by_name(entry.Name(), type);
  if (status == B_OK) use_text_name(type);
  return status;
}

namespace {

// A stored type read as `read` reads the attribute into a buffer, by its text/ name; type is
// left alone unless there is one.
template <typename Read>
status_t take_stored_type(Read read, char* type) {
  char stored[B_MIME_TYPE_LENGTH];
  if (take_string_attr(read(stored, B_MIME_TYPE_LENGTH - 1), stored) != B_OK) return B_ENTRY_NOT_FOUND;
  use_text_name(stored);
  strcpy(type, stored);
  return B_OK;
}

}  // namespace

status_t BNodeInfo::GetStoredType(const BEntry& entry, char* type) {
  if (type == nullptr || entry.InitCheck() != B_OK) return B_BAD_VALUE;
  return take_stored_type([&](char* buffer, size_t size) { return entry.ReadAttr(kTypeAttr, buffer, size); }, type);
}

status_t BNodeInfo::GetStoredType(const BNode& node, char* type) {
  if (type == nullptr || node.InitCheck() != B_OK) return B_BAD_VALUE;
  return take_stored_type([&](char* buffer, size_t size) { return node.ReadAttr(kTypeAttr, buffer, size); }, type);
}

status_t BNodeInfo::GetTypeFromContent(const BNode& node, const struct stat& st, char* type) {
  if (type == nullptr || !node.CanRead()) return B_BAD_VALUE;
  SniffKey key{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, node.Name()};
  {
    std::lock_guard<std::mutex> guard(sniff_mutex);
    if (auto found = sniff_cache.find(key); found != sniff_cache.end()) {
      if (found->second.empty()) return B_ENTRY_NOT_FOUND;
      memcpy(type, found->second.c_str(), found->second.size() + 1);
      return B_OK;
    }
  }
  // The guess itself runs unlocked: two threads guessing the same file agree.
  status_t status = guess_by_content(node.Descriptor(), node.Name(), type);
  if (status == B_OK) use_text_name(type);
  if (too_recent_to_cache(st)) return status;
  std::lock_guard<std::mutex> guard(sniff_mutex);
  if (sniff_cache.size() >= kMaxSniffCache) sniff_cache.clear();
  sniff_cache.emplace(std::move(key), status == B_OK ? std::string(type) : std::string());
  return status;
}

status_t BNodeInfo::SetType(const char* type) {
  if (status_ != B_OK) return status_;
  return WriteStringAttr(kTypeAttr, type);
}

status_t BNodeInfo::GetPreferredApp(char* signature, app_verb) const {
  if (status_ != B_OK) return status_;
  if (signature == nullptr) return B_BAD_VALUE;
  return ReadStringAttr(kPreferredAppAttr, signature);
}

status_t BNodeInfo::SetPreferredApp(const char* signature, app_verb) {
  if (status_ != B_OK) return status_;
  return WriteStringAttr(kPreferredAppAttr, signature);
}
