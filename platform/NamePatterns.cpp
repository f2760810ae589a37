#include "NamePatterns.h"

#include <algorithm>
#include <cstring>
#include <fnmatch.h>

#include "AsciiFold.h"
#include "MimeDatabase.h"

namespace {

// The cache's layout: 16-bit versions, then 32-bit offsets of its lists, all big-endian.
constexpr uint64_t kLiteralList = 12, kSuffixTree = 16, kGlobList = 20;
constexpr uint64_t kEntrySize = 12;  // every entry of the three is three 32-bit words
constexpr uint32_t kCaseSensitive = 0x100, kWeightMask = 0xff;

// Checked reads of one cache's bytes: a damaged cache can say anything.
class CacheBytes {
 public:
  explicit CacheBytes(const std::string& bytes) : bytes_(bytes) {}
  bool U32(uint64_t offset, uint32_t* value) const {
    if (offset > bytes_.size() || bytes_.size() - offset < 4) return false;
    const auto* at = reinterpret_cast<const uint8_t*>(bytes_.data() + offset);
    *value = uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
    return true;
  }
  // The string at offset, or null unless it ends inside the bytes.
  const char* String(uint32_t offset) const {
    if (offset >= bytes_.size()) return nullptr;
    const char* at = bytes_.data() + offset;
    return memchr(at, '\0', bytes_.size() - offset) != nullptr ? at : nullptr;
  }
  // An entry's three words.
  bool Entry(uint64_t at, uint32_t* first, uint32_t* second, uint32_t* third) const {
    return U32(at, first) && U32(at + 4, second) && U32(at + 8, third);
  }

 private:
  const std::string& bytes_;
};

// GIO reads the name's byte as a (signed) char and compares it with the tree's 32-bit
// characters: a byte past ASCII matches nothing. The same here.
uint32_t tree_character(char byte) { return uint32_t(int32_t(static_cast<signed char>(byte))); }

}  // namespace

NamePatterns::NamePatterns(std::vector<std::shared_ptr<const std::string>> caches) : caches_(std::move(caches)) {}

std::unique_ptr<NamePatterns> NamePatterns::FromCaches(std::vector<std::shared_ptr<const std::string>> caches) {
  for (const auto& cache : caches)
    if (cache == nullptr || !mime_cache_understood(*cache)) return nullptr;
  return std::unique_ptr<NamePatterns>(new NamePatterns(std::move(caches)));
}

int NamePatterns::TypesOf(const char* name, const char* types[kMostTypes]) const {
  std::string asIs(name), folded = ascii::folded(asIs);
  Found found[kMostTypes];
  int n = Literal(folded, false, found);
  if (n == 0) n = Literal(asIs, true, found);
  if (n != 0) return n < 0 ? -1 : (types[0] = found[0].type, 1);
  // Each step adds to what the ones before found, while fewer than two were found.
  auto add = [&](int more) { n = n < 0 || more < 0 ? -1 : n + more; };
  if (!asIs.empty()) {
    add(Suffix(folded, false, found, kMostTypes));
    if (n >= 0 && n < 2) add(Suffix(asIs, true, found + n, kMostTypes - size_t(n)));
  }
  if (n == 0) add(Globs(folded, false, found, kMostTypes));
  if (n >= 0 && n < 2) add(Globs(asIs, true, found + n, kMostTypes - size_t(n)));
  if (n < 0) return -1;
  n = WithoutRepeats(found, n);
  std::stable_sort(found, found + n, [](const Found& a, const Found& b) { return a.weight > b.weight; });
  for (int i = 0; i < n; ++i) types[i] = found[i].type;
  return n;
}

// A type found twice is kept once, at its first place with the better weight; the last one
// found takes the place of the repeat, in the order GIO's reader leaves them, which decides
// between types of equal weight.
int NamePatterns::WithoutRepeats(Found* found, int n) {
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n;) {
      if (strcmp(found[i].type, found[j].type) != 0) {
        ++j;
        continue;
      }
      found[i].weight = std::max(found[i].weight, found[j].weight);
      found[j] = found[--n];
    }
  }
  return n;
}

// A binary search of each cache's sorted list, the first cache that has the name deciding.
int NamePatterns::Literal(const std::string& name, bool caseSensitiveToo, Found* found) const {
  for (const auto& bytes : caches_) {
    CacheBytes cache(*bytes);
    uint32_t list, count;
    if (!cache.U32(kLiteralList, &list) || !cache.U32(list, &count)) return -1;
    int64_t low = 0, high = int64_t(count) - 1;
    while (low <= high) {
      int64_t mid = (low + high) / 2;
      uint32_t textAt, typeAt, flags;
      if (!cache.Entry(list + 4 + kEntrySize * uint64_t(mid), &textAt, &typeAt, &flags)) return -1;
      const char* text = cache.String(textAt);
      if (text == nullptr) return -1;
      int order = strcmp(text, name.c_str());
      if (order < 0) {
        low = mid + 1;
      } else if (order > 0) {
        high = mid - 1;
      } else {
        // A case-sensitive name found through the folded name ends the search (GIO's rule).
        if (!caseSensitiveToo && (flags & kCaseSensitive) != 0) return 0;
        found[0] = {cache.String(typeAt), int(flags & kWeightMask)};
        return found[0].type != nullptr ? 1 : -1;
      }
    }
  }
  return 0;
}

// The tree of reversed suffixes: each node's entry is its character, its children's count and
// the offset of the first; its children are sorted by character, and the patterns that end at
// it come first, as entries of character 0 holding a type's offset and a weight with flags.
// The name is matched from its last byte on, and the deepest node with patterns decides.
int NamePatterns::SuffixNode(const std::string& bytes, uint32_t count, uint32_t offset, const std::string& name,
                             size_t length, bool caseSensitiveToo, Found* found, size_t room) {
  CacheBytes cache(bytes);
  uint32_t character = tree_character(name[length - 1]);
  int64_t low = 0, high = int64_t(count) - 1;
  while (low <= high) {
    int64_t mid = (low + high) / 2;
    uint32_t here, children, first;
    if (!cache.Entry(offset + kEntrySize * uint64_t(mid), &here, &children, &first)) return -1;
    if (here < character) {
      low = mid + 1;
    } else if (here > character) {
      high = mid - 1;
    } else {
      int n = length > 1 ? SuffixNode(bytes, children, first, name, length - 1, caseSensitiveToo, found, room) : 0;
      if (n != 0) return n;
      for (uint32_t i = 0; i < children && size_t(n) < room; ++i) {
        uint32_t leaf, typeAt, flags;
        if (!cache.Entry(first + kEntrySize * uint64_t(i), &leaf, &typeAt, &flags)) return -1;
        if (leaf != 0) break;
        if (!caseSensitiveToo && (flags & kCaseSensitive) != 0) continue;
        found[n] = {cache.String(typeAt), int(flags & kWeightMask)};
        if (found[n++].type == nullptr) return -1;
      }
      return n;
    }
  }
  return 0;
}

int NamePatterns::Suffix(const std::string& name, bool caseSensitiveToo, Found* found, size_t room) const {
  int n = 0;
  for (const auto& bytes : caches_) {
    if (size_t(n) == room) break;
    CacheBytes cache(*bytes);
    uint32_t list, count, first;
    if (!cache.U32(kSuffixTree, &list) || !cache.U32(list, &count) || !cache.U32(uint64_t(list) + 4, &first)) return -1;
    int more = SuffixNode(*bytes, count, first, name, name.size(), caseSensitiveToo, found + n, room - size_t(n));
    if (more < 0) return -1;
    n += more;
  }
  return n;
}

namespace {

// Whether fnmatch(3) could match: a pattern that starts with a plain character matches only
// names that start with it. Most patterns do, and fnmatch was the dearest step of a lookup.
bool may_match(const char* pattern, const std::string& name) {
  char first = pattern[0];
  return first == '*' || first == '?' || first == '[' || first == '\\' || first == name[0];
}

}  // namespace

// The patterns fnmatch(3) understands, tried in the caches' order.
int NamePatterns::Globs(const std::string& name, bool caseSensitiveToo, Found* found, size_t room) const {
  int n = 0;
  for (const auto& bytes : caches_) {
    CacheBytes cache(*bytes);
    uint32_t list, count;
    if (!cache.U32(kGlobList, &list) || !cache.U32(list, &count)) return -1;
    for (uint32_t i = 0; i < count && size_t(n) < room; ++i) {
      uint32_t textAt, typeAt, flags;
      if (!cache.Entry(uint64_t(list) + 4 + kEntrySize * i, &textAt, &typeAt, &flags)) return -1;
      if (!caseSensitiveToo && (flags & kCaseSensitive) != 0) continue;
      const char* pattern = cache.String(textAt);
      if (pattern == nullptr) return -1;
      if (!may_match(pattern, name) || fnmatch(pattern, name.c_str(), 0) != 0) continue;
      found[n] = {cache.String(typeAt), int(flags & kWeightMask)};
      if (found[n++].type == nullptr) return -1;
    }
    if (size_t(n) == room) break;
  }
  return n;
}
