#include "TextCache.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "platform/FindDirectory.h"
#include "platform/Path.h"
#include "platform/ReplaceFile.h"

namespace {

constexpr char kMagic[8] = {'T', 'W', 'K', 'T', 'E', 'X', 'T', '1'};
// Changes whenever the extractors or the text's normal form change, so that no entry made by
// an older version is used.
constexpr const char* kTextVersion = "text-2";
constexpr const char* kSuffix = ".text";
constexpr uint64_t kDefaultLimit = uint64_t(512) << 20;
constexpr uint64_t kLargestPayload = uint64_t(2) << 30;
// A read entry's time is brought up to date (for the least-recently-used order) at most this
// often, so that a search of many cached documents does not write as much as it reads.
constexpr time_t kTouchEvery = 600;

void put_u64(std::string* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(char(value >> (8 * i)));
}
void put_u32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(char(value >> (8 * i)));
}

// Reads the fields of an entry in order, failing once past its end.
class Fields {
 public:
  explicit Fields(const std::string& bytes) : bytes_(bytes) {}
  bool Take(size_t n, const char** at) {
    if (bytes_.size() - at_ < n) return false;
    *at = bytes_.data() + at_;
    at_ += n;
    return true;
  }
  bool U64(uint64_t* value) {
    const char* p;
    if (!Take(8, &p)) return false;
    *value = 0;
    for (int i = 7; i >= 0; --i) *value = (*value << 8) | static_cast<unsigned char>(p[i]);
    return true;
  }
  bool U32(uint32_t* value) {
    uint64_t wide = 0;
    const char* p;
    if (!Take(4, &p)) return false;
    for (int i = 3; i >= 0; --i) wide = (wide << 8) | static_cast<unsigned char>(p[i]);
    *value = uint32_t(wide);
    return true;
  }
  size_t Left() const { return bytes_.size() - at_; }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

bool read_whole(int fd, size_t size, std::string* bytes) {
  bytes->resize(size);
  size_t done = 0;
  while (done < size) {
    ssize_t got = pread(fd, bytes->data() + done, size - done, off_t(done));
    if (got <= 0) return false;
    done += size_t(got);
  }
  return true;
}

// The payload of an entry: the hyphens' offsets, then the text.
std::string payload_of(const DocumentText& text) {
  std::string payload;
  payload.reserve(8 * text.lineEndHyphens.size() + text.text.size());
  for (size_t hyphen : text.lineEndHyphens) put_u64(&payload, hyphen);
  payload += text.text;
  return payload;
}

bool parse_entry(const std::string& bytes, const std::string& key, DocumentText* text, status_t* failure) {
  Fields fields(bytes);
  const char* p;
  uint32_t keyLength, crc, status;
  uint64_t textLength, hyphens, packed;
  if (!fields.Take(sizeof kMagic, &p) || memcmp(p, kMagic, sizeof kMagic) != 0) return false;
  if (!fields.U32(&keyLength) || keyLength != key.size() || !fields.Take(keyLength, &p) ||
      memcmp(p, key.data(), keyLength) != 0)
    return false;
  if (!fields.U32(&status) || !fields.U64(&textLength) || !fields.U64(&hyphens) || !fields.U32(&crc) ||
      !fields.U64(&packed))
    return false;
  *failure = status_t(status);
  if (hyphens > kLargestPayload / 8 || textLength > kLargestPayload - 8 * hyphens || packed != fields.Left())
    return false;
  std::string payload(8 * hyphens + textLength, '\0');
  uLongf unpacked = payload.size();
  if (!fields.Take(packed, &p) ||
      uncompress(reinterpret_cast<Bytef*>(payload.data()), &unpacked, reinterpret_cast<const Bytef*>(p), packed) != Z_OK ||
      unpacked != payload.size() ||
      crc32(0, reinterpret_cast<const Bytef*>(payload.data()), uInt(payload.size())) != crc)
    return false;
  Fields offsets(payload);
  text->lineEndHyphens.resize(hyphens);
  for (size_t& hyphen : text->lineEndHyphens) {
    uint64_t offset = 0;
    offsets.U64(&offset);
    hyphen = size_t(offset);
  }
  text->text.assign(payload, 8 * hyphens, std::string::npos);
  return std::all_of(text->lineEndHyphens.begin(), text->lineEndHyphens.end(),
                     [&](size_t hyphen) { return hyphen < text->text.size(); });
}

}  // namespace

std::string TextCache::DefaultFolder() {
  BPath cache;
  if (find_directory(B_USER_CACHE_DIRECTORY, &cache) != B_OK) return "";
  return std::string(cache.Path()) + "/tarnwickloft";
}

uint64_t TextCache::DefaultLimit() {
  const char* chosen = getenv("TARNWICKLOFT_CACHE_MB");
  if (chosen == nullptr || *chosen == '\0') return kDefaultLimit;
  char* end = nullptr;
  unsigned long long megabytes = strtoull(chosen, &end, 10);
  return *end == '\0' ? uint64_t(megabytes) << 20 : kDefaultLimit;
}

TextCache::TextCache(std::string folder, uint64_t limitBytes, std::string pdfExtractor)
    : folder_(std::move(folder)), limit_(limitBytes), pdfExtractor_(std::move(pdfExtractor)) {}

TextCache::~TextCache() {
  if (stored_.load()) Trim();
}

std::string TextCache::Key(const struct stat& st, DocumentKind kind) const {
  std::string key = std::string(kTextVersion) + " " + std::to_string(int(kind));
  for (uint64_t field : {uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size), uint64_t(st.st_mtim.tv_sec),
                         uint64_t(st.st_mtim.tv_nsec), uint64_t(st.st_ctim.tv_sec), uint64_t(st.st_ctim.tv_nsec)})
    key += " " + std::to_string(field);
  if (kind == DocumentKind::kPdf) key += " pdftotext " + pdfExtractor_;
  return key;
}

std::string TextCache::PathFor(const std::string& key) const {
  char name[32];
  snprintf(name, sizeof name, "/%016llx", static_cast<unsigned long long>(fnv1a(key)));
  return folder_ + name + kSuffix;
}

bool TextCache::Load(const struct stat& st, DocumentKind kind, DocumentText* text, status_t* failure) {
  if (folder_.empty()) return false;
  std::string key = Key(st, kind);
  int fd = open(PathFor(key).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat entry;
  std::string bytes;
  bool whole = fstat(fd, &entry) == 0 && S_ISREG(entry.st_mode) && uint64_t(entry.st_size) <= kLargestPayload &&
               read_whole(fd, size_t(entry.st_size), &bytes) && parse_entry(bytes, key, text, failure);
  if (whole && time(nullptr) - entry.st_mtime > kTouchEvery) futimens(fd, nullptr);
  close(fd);
  return whole;
}

void TextCache::Store(const struct stat& st, DocumentKind kind, const DocumentText& text, status_t failure) {
  if (folder_.empty()) return;
  std::call_once(madeFolder_, [this] { folderReady_ = create_folders(folder_, 0700) == B_OK; });
  if (!folderReady_) return;
  std::string key = Key(st, kind);
  std::string payload = payload_of(text);
  uLongf packedSize = compressBound(payload.size());
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(payload.data()),
                payload.size(), Z_BEST_SPEED) != Z_OK)
    return;
  packed.resize(packedSize);
  std::string entry(kMagic, sizeof kMagic);
  put_u32(&entry, uint32_t(key.size()));
  entry += key;
  put_u32(&entry, uint32_t(failure));
  put_u64(&entry, text.text.size());
  put_u64(&entry, text.lineEndHyphens.size());
  put_u32(&entry, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(payload.data()), uInt(payload.size()))));
  put_u64(&entry, packed.size());
  entry += packed;
  if (entry.size() > limit_) return;  // would push everything else out
  ReplaceOptions options;
  options.newFileMode = 0600;
  options.sync = false;
  options.sweep = false;
  if (replace_file(PathFor(key), entry, {}, options) == B_OK) stored_.store(true);
}

void TextCache::Trim() {
  if (folder_.empty()) return;
  remove_stale_temporaries(folder_);
  DIR* dir = opendir(folder_.c_str());
  if (dir == nullptr) return;
  struct Entry {
    timespec used;
    uint64_t bytes;
    std::string name;
  };
  std::vector<Entry> entries;
  uint64_t total = 0;
  int fd = dirfd(dir);
  while (dirent* d = readdir(dir)) {
    std::string name = d->d_name;
    struct stat st;
    if (name.size() <= strlen(kSuffix) || name.compare(name.size() - strlen(kSuffix), std::string::npos, kSuffix) != 0 ||
        fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    entries.push_back({st.st_mtim, uint64_t(st.st_size), name});
    total += uint64_t(st.st_size);
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec : a.used.tv_nsec < b.used.tv_nsec;
  });
  for (const Entry& entry : entries) {
    if (total <= limit_) break;
    if (unlinkat(fd, entry.name.c_str(), 0) == 0) total -= entry.bytes;
  }
  closedir(dir);
}
