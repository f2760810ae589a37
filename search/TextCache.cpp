#include "TextCache.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <lz4frame.h>

#include "platform/FindDirectory.h"
#include "platform/LittleEndian.h"
#include "platform/Path.h"
#include "platform/ReplaceFile.h"

namespace {

constexpr char kMagic[8] = {'T', 'W', 'K', 'T', 'E', 'X', 'T', '3'};
// Changes whenever the extractors or the text's normal form change, so that no entry made by
// an older version is used.
constexpr const char* kTextVersion = "text-4";
constexpr const char* kSuffix = ".text";
constexpr uint64_t kDefaultLimit = uint64_t(512) << 20;
constexpr uint64_t kLargestPayload = uint64_t(2) << 30;
// Most entries are read whole with one read of this size.
constexpr size_t kFirstRead = 64 * 1024;

// Reads the fields of an entry in order, failing once past its end.
class Fields {
 public:
  explicit Fields(std::string_view bytes) : bytes_(bytes) {}
  bool Take(size_t n, const char** at) {
    if (bytes_.size() - at_ < n) return false;
    *at = bytes_.data() + at_;
    at_ += n;
    return true;
  }
  bool U64(uint64_t* value) { return Little(8, value); }
  bool U32(uint32_t* value) {
    uint64_t wide = 0;
    if (!Little(4, &wide)) return false;
    *value = uint32_t(wide);
    return true;
  }
  size_t Left() const { return bytes_.size() - at_; }

 private:
  bool Little(int bytes, uint64_t* value) {
    const char* p;
    if (!Take(size_t(bytes), &p)) return false;
    *value = get_le(p, bytes);
    return true;
  }

  std::string_view bytes_;
  size_t at_ = 0;
};

uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

// A decompression context for this thread: making one for each entry costs more than reading
// a small entry.
LZ4F_dctx* decompressor() {
  struct Context {
    LZ4F_dctx* context = nullptr;
    Context() {
      if (LZ4F_isError(LZ4F_createDecompressionContext(&context, LZ4F_VERSION))) context = nullptr;
    }
    ~Context() { LZ4F_freeDecompressionContext(context); }
  };
  thread_local Context local;
  return local.context;
}

// The payload of an entry: the text, then the hyphens' offsets, so that the text is decompressed
// where it stays.
std::string payload_of(const DocumentText& text) {
  std::string payload = text.text;
  for (size_t hyphen : text.lineEndHyphens) put_le(&payload, hyphen, 8);
  return payload;
}

// Decompresses a frame that must give exactly out's size, its content checksum verified.
bool unpack(const char* packed, size_t packedSize, std::string* out) {
  LZ4F_dctx* context = decompressor();
  if (context == nullptr) return false;
  LZ4F_resetDecompressionContext(context);
  size_t written = 0;
  while (packedSize > 0) {
    size_t room = out->size() - written, used = packedSize;
    size_t hint = LZ4F_decompress(context, out->data() + written, &room, packed, &used, nullptr);
    if (LZ4F_isError(hint)) return false;
    written += room;
    packed += used;
    packedSize -= used;
    if (hint == 0) return packedSize == 0 && written == out->size();  // the frame ended, checked
    if (used == 0 && room == 0) return false;
  }
  return false;
}

// Reads a whole entry: with one read for most, into this thread's buffer, which the view
// returned points into until the next call.
bool read_entry(int fd, std::string_view* bytes) {
  thread_local std::unique_ptr<char[]> first(new char[kFirstRead]);
  thread_local std::string longer;
  ssize_t got = pread(fd, first.get(), kFirstRead, 0);
  if (got < 0) return false;
  if (size_t(got) < kFirstRead) {
    *bytes = std::string_view(first.get(), size_t(got));
    return true;
  }
  struct stat st;  // longer than the first read: read it all
  if (fstat(fd, &st) != 0 || uint64_t(st.st_size) > kLargestPayload) return false;
  longer.resize(size_t(st.st_size));
  for (size_t done = 0; done < longer.size();) {
    got = pread(fd, longer.data() + done, longer.size() - done, off_t(done));
    if (got <= 0) return false;
    done += size_t(got);
  }
  *bytes = longer;
  return true;
}

bool parse_entry(std::string_view bytes, const std::string& key, DocumentText* text, status_t* failure) {
  Fields fields(bytes);
  const char* p;
  uint32_t keyLength, status;
  uint64_t textLength, hyphens, packed;
  if (!fields.Take(sizeof kMagic, &p) || memcmp(p, kMagic, sizeof kMagic) != 0) return false;
  if (!fields.U32(&keyLength) || keyLength != key.size() || !fields.Take(keyLength, &p) ||
      memcmp(p, key.data(), keyLength) != 0)
    return false;
  if (!fields.U32(&status) || !fields.U64(&textLength) || !fields.U64(&hyphens) || !fields.U64(&packed)) return false;
  *failure = status_t(status);
  if (hyphens > kLargestPayload / 8 || textLength > kLargestPayload - 8 * hyphens || packed != fields.Left() ||
      !fields.Take(packed, &p))
    return false;
  std::string& payload = text->text;
  payload.resize(textLength + 8 * hyphens);
  if (!unpack(p, packed, &payload)) return false;
  Fields offsets(payload);
  const char* skipped;
  offsets.Take(textLength, &skipped);
  text->lineEndHyphens.resize(hyphens);
  for (size_t& hyphen : text->lineEndHyphens) {
    uint64_t offset = 0;
    offsets.U64(&offset);
    if (offset >= textLength) return false;
    hyphen = size_t(offset);
  }
  payload.resize(textLength);
  return true;
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
  if (folderFd_ >= 0) close(folderFd_);
}

std::string TextCache::Key(const struct stat& st, DocumentKind kind) const {
  char fields[200];
  snprintf(fields, sizeof fields, "%s %d %llu %llu %llu %lld.%09ld %lld.%09ld", kTextVersion, int(kind),
           static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
           static_cast<unsigned long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
           st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
  std::string key = fields;
  if (kind == DocumentKind::kPdf) key.append(" pdftotext ").append(pdfExtractor_);
  return key;
}

std::string TextCache::NameFor(const std::string& key) {
  char name[32];
  snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(fnv1a(key)), kSuffix);
  return name;
}

// The folder is opened once, and entries are looked up in it by name alone.
int TextCache::Folder() {
  std::call_once(openedFolder_, [this] { folderFd_ = open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
  return folderFd_;
}

bool TextCache::Load(const struct stat& st, DocumentKind kind, DocumentText* text, status_t* failure) {
  if (folder_.empty() || Folder() < 0) return false;
  std::string key = Key(st, kind);
  int fd = openat(Folder(), NameFor(key).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  // The read sets the entry's access time (at most daily, under the default relatime mounts),
  // which orders the entries for Trim.
  std::string_view bytes;
  bool whole = read_entry(fd, &bytes) && parse_entry(bytes, key, text, failure);
  close(fd);
  return whole;
}

void TextCache::Store(const struct stat& st, DocumentKind kind, const DocumentText& text, status_t failure) {
  if (folder_.empty()) return;
  std::call_once(madeFolder_, [this] { folderReady_ = create_folders(folder_, 0700) == B_OK; });
  if (!folderReady_) return;
  std::string key = Key(st, kind);
  std::string payload = payload_of(text);
  LZ4F_preferences_t preferences{};
  preferences.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
  preferences.frameInfo.contentSize = payload.size();
  std::string packed(LZ4F_compressFrameBound(payload.size(), &preferences), '\0');
  size_t packedSize = LZ4F_compressFrame(packed.data(), packed.size(), payload.data(), payload.size(), &preferences);
  if (LZ4F_isError(packedSize)) return;
  packed.resize(packedSize);
  std::string entry(kMagic, sizeof kMagic);
  put_le(&entry, uint32_t(key.size()), 4);
  entry += key;
  put_le(&entry, uint32_t(failure), 4);
  put_le(&entry, text.text.size(), 8);
  put_le(&entry, text.lineEndHyphens.size(), 8);
  put_le(&entry, packed.size(), 8);
  entry += packed;
  if (entry.size() > limit_) return;  // would push everything else out
  ReplaceOptions options;
  options.newFileMode = 0600;
  options.sync = false;
  options.sweep = false;
  if (replace_file(folder_ + "/" + NameFor(key), entry, {}, options) == B_OK) stored_.store(true);
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
    // Last used: read (its access time) or written, whichever came later.
    timespec used = st.st_atim.tv_sec > st.st_mtim.tv_sec ? st.st_atim : st.st_mtim;
    entries.push_back({used, uint64_t(st.st_size), name});
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
