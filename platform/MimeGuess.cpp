#include "MimeGuess.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>

#include "ContentHint.h"
#include "MimeDatabase.h"

namespace {

// How often the database's files are looked at again for a change, as GIO looks.
constexpr time_t kCheckEverySeconds = 5;
constexpr const char* kUnknownType = "application/octet-stream";

time_t coarse_seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return now.tv_sec;
}

bool every_type(const char*, const void*) { return true; }

// GIO's two tests for text when no rule matched: the first 128 bytes hold no control
// character but tab and line ends, or none of the head holds an ASCII control character
// other than white space and backspace.
bool starts_as_text(const uint8_t* head, size_t size) {
  for (size_t i = 0; i < 128 && i < size; ++i)
    if (head[i] < 32 && head[i] != '\t' && head[i] != '\n' && head[i] != '\r') return false;
  return true;
}

bool looks_like_text(const uint8_t* head, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    uint8_t c = head[i];
    bool control = c < 0x20 || c == 0x7f;
    bool space = c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';  // GLib's: no \v
    if (control && !space && c != '\b') return false;
  }
  return true;
}

}  // namespace

MimeGuess::~MimeGuess() = default;

std::unique_ptr<MimeGuess> MimeGuess::FromDatabase(const std::vector<MimeDatabaseFolder>& folders) {
  std::unique_ptr<MimeGuess> guess(new MimeGuess);
  std::vector<std::shared_ptr<const std::string>> caches;
  for (const MimeDatabaseFolder& folder : folders) {
    if (folder.uncachedPatterns || folder.uncachedRules) return nullptr;  // GIO reads those files as well
    if (folder.cache == nullptr) continue;
    caches.push_back(folder.cache);
    guess->magic_.push_back(MagicRules::FromCache(folder.cache, every_type, nullptr));
    if (guess->magic_.back() == nullptr) return nullptr;
  }
  guess->names_ = NamePatterns::FromCaches(std::move(caches));
  return guess->names_ != nullptr ? std::move(guess) : nullptr;
}

const MimeGuess* MimeGuess::Current() {
  struct Read {
    std::shared_ptr<const std::vector<MimeDatabaseFolder>> database;
    std::unique_ptr<MimeGuess> guess;
  };
  static std::atomic<const Read*> current{nullptr};
  static std::atomic<time_t> nextCheck{0};
  static std::mutex mutex;
  static std::vector<std::unique_ptr<Read>> everyRead;  // guarded by mutex; kept: see above
  time_t now = coarse_seconds();
  const Read* read = current.load(std::memory_order_acquire);
  if (read != nullptr && now < nextCheck.load(std::memory_order_relaxed)) return read->guess.get();
  std::lock_guard<std::mutex> guard(mutex);
  read = current.load(std::memory_order_acquire);
  if (read != nullptr && now < nextCheck.load(std::memory_order_relaxed)) return read->guess.get();
  auto database = mime_database();
  if (read == nullptr || read->database != database) {
    auto fresh = std::make_unique<Read>();
    fresh->guess = FromDatabase(*database);
    fresh->database = std::move(database);
    read = fresh.get();
    everyRead.push_back(std::move(fresh));
    current.store(read, std::memory_order_release);
  }
  nextCheck.store(now + kCheckEverySeconds, std::memory_order_relaxed);
  return read->guess.get();
}

bool MimeGuess::ByName(const char* name, const char** type, bool* uncertain) const {
  const char* types[NamePatterns::kMostTypes];
  int n = names_->TypesOf(name, types);
  if (n < 0) return false;
  *type = n > 0 ? types[0] : kUnknownType;
  *uncertain = n != 1;
  return true;
}

bool MimeGuess::Magic(const uint8_t* head, size_t size, const char** type) const {
  *type = nullptr;
  uint32_t best = 0;
  for (const auto& rules : magic_) {
    const char* match;
    uint32_t priority;
    if (!rules->FirstMatch(head, size, &match, &priority)) return false;
    if (priority > best) {
      best = priority;
      *type = match;
    }
  }
  return true;
}

bool MimeGuess::ByContent(const char* name, const uint8_t* head, size_t size, const char** type,
                          bool* uncertain) const {
  const char* types[NamePatterns::kMostTypes];
  int n = names_->TypesOf(name, types);
  if (n == 1) {  // a name of one pattern is certain, whatever the head
    *type = types[0];
    *uncertain = false;
    return true;
  }
  if (n != 0 || size == 0 || !Magic(head, size, type)) return false;
  if (*type == nullptr) *type = starts_as_text(head, size) || looks_like_text(head, size) ? "text/plain" : kUnknownType;
  // GIO never lets the head alone make a file a desktop entry, which could run a program.
  if (strcmp(*type, "application/x-desktop") == 0) *type = "text/plain";
  *uncertain = strcmp(*type, kUnknownType) == 0;
  return true;
}
