#include "ContentHint.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <unordered_set>

#include "AsciiFold.h"
#include "MimeDatabase.h"
#include "TextTypes.h"

namespace {

// The cache's layout: a header of 16-bit versions and 32-bit offsets, all big-endian.
constexpr size_t kMagicListOffset = 24;
constexpr size_t kMatchSize = 16, kMatchletSize = 32;
constexpr int kDeepest = 32;  // nesting of matchlets no database comes near
// Byte comparisons one head may cost: the real rules take a few thousand. A damaged cache
// could ask for far more; past this the head is said to match, which costs only a full guess.
constexpr int64_t kMostWork = 1 << 22;

}  // namespace

bool MagicRules::Read32(size_t offset, uint32_t* value) const {
  if (offset > bytes_.size() || bytes_.size() - offset < 4) return false;
  const auto* at = reinterpret_cast<const uint8_t*>(bytes_.data() + offset);
  *value = uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
  return true;
}

std::unique_ptr<MagicRules> MagicRules::FromCache(std::shared_ptr<const std::string> bytes,
                                                  bool (*wanted)(const char*, const void*), const void* context) {
  if (bytes == nullptr) return nullptr;
  std::unique_ptr<MagicRules> rules(new MagicRules(std::move(bytes)));
  const std::string& b = rules->bytes_;
  if (!mime_cache_understood(b)) return nullptr;
  uint32_t list, count, first;
  if (!rules->Read32(kMagicListOffset, &list) || !rules->Read32(list, &count) || !rules->Read32(uint64_t(list) + 8, &first))
    return nullptr;
  if (first > b.size() || uint64_t(count) * kMatchSize > b.size() - first) return nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    size_t match = first + size_t(i) * kMatchSize;
    uint32_t priority, typeAt, matchlets, firstMatchlet;
    if (!rules->Read32(match, &priority) || !rules->Read32(match + 4, &typeAt) || !rules->Read32(match + 8, &matchlets) ||
        !rules->Read32(match + 12, &firstMatchlet) || typeAt >= b.size())
      return nullptr;
    const char* type = b.data() + typeAt;
    if (memchr(type, '\0', b.size() - typeAt) == nullptr) return nullptr;
    if (wanted(type, context)) rules->matches_.push_back({matchlets, firstMatchlet, priority, type});
  }
  return rules;
}

// Whether the matchlet's value, masked when it has a mask, stands at one of the offsets of its
// range; a value that would run past the head does not.
bool MagicRules::ValueAt(uint32_t offset, const uint8_t* head, size_t size, int64_t& work) const {
  uint32_t start, range, length, valueAt, maskAt;
  if (!Read32(offset, &start) || !Read32(uint64_t(offset) + 4, &range) || !Read32(uint64_t(offset) + 12, &length) ||
      !Read32(uint64_t(offset) + 16, &valueAt) || !Read32(uint64_t(offset) + 20, &maskAt))
    return false;
  if (valueAt > bytes_.size() || length > bytes_.size() - valueAt) return false;
  if (maskAt != 0 && (maskAt > bytes_.size() || length > bytes_.size() - maskAt)) return false;
  const auto* value = reinterpret_cast<const uint8_t*>(bytes_.data() + valueAt);
  const auto* mask = reinterpret_cast<const uint8_t*>(bytes_.data() + maskAt);
  if (length == 0) return range > 0 && start <= size;
  if (length > size) return false;
  // The last place the value fits: past it the value would run beyond the head.
  uint64_t end = std::min<uint64_t>(uint64_t(start) + range, size - length + 1);
  for (uint64_t at = start; at < end; ++at) {
    if ((work -= int64_t(length) + 1) < 0) return true;
    if (maskAt == 0) {
      // Most rules are plain strings: skip to where their first byte stands.
      const void* first = memchr(head + at, value[0], size_t(end - at));
      if (first == nullptr) return false;
      at = uint64_t(static_cast<const uint8_t*>(first) - head);
      if (memcmp(value, head + at, length) == 0) return true;
      continue;
    }
    bool equal = true;
    for (uint32_t j = 0; j < length && equal; ++j) equal = (value[j] & mask[j]) == (head[at + j] & mask[j]);
    if (equal) return true;
  }
  return false;
}

// A matchlet matches when its value does and, if it has children, one of them matches.
bool MagicRules::MatchletMatches(uint32_t offset, const uint8_t* head, size_t size, int depth, int64_t& work) const {
  uint32_t children, firstChild;
  if ((work -= kMatchletSize) < 0) return true;  // a visit costs, whatever its value
  if (depth > kDeepest || !Read32(uint64_t(offset) + 24, &children) || !Read32(uint64_t(offset) + 28, &firstChild))
    return false;
  if (!ValueAt(offset, head, size, work)) return false;
  if (children == 0) return true;
  children = uint32_t(std::min<uint64_t>(children, bytes_.size() / kMatchletSize));
  for (uint32_t i = 0; i < children; ++i)
    if (MatchletMatches(uint32_t(std::min<uint64_t>(firstChild + uint64_t(i) * kMatchletSize, UINT32_MAX)), head, size,
                        depth + 1, work))
      return true;
  return false;
}

bool MagicRules::AnyMatches(const Matchlets& match, const uint8_t* head, size_t size, int64_t& work) const {
  uint32_t count = uint32_t(std::min<uint64_t>(match.count, bytes_.size() / kMatchletSize));
  for (uint32_t i = 0; i < count; ++i)
    if (MatchletMatches(uint32_t(std::min<uint64_t>(match.first + uint64_t(i) * kMatchletSize, UINT32_MAX)), head, size,
                        0, work))
      return true;
  return false;
}

bool MagicRules::Match(const uint8_t* head, size_t size) const {
  int64_t work = kMostWork;
  return std::any_of(matches_.begin(), matches_.end(),
                     [&](const Matchlets& match) { return AnyMatches(match, head, size, work); });
}

bool MagicRules::FirstMatch(const uint8_t* head, size_t size, const char** type, uint32_t* priority) const {
  int64_t work = kMostWork;
  *type = nullptr;
  *priority = 0;
  for (const Matchlets& match : matches_) {
    if (!AnyMatches(match, head, size, work)) continue;
    if (work < 0) return false;  // said to match only because trying cost too much
    *type = match.type;
    *priority = match.priority;
    return true;
  }
  return work >= 0;
}

namespace {

// A type of the database is wanted when it is read by one of the names asked about.
bool wanted_type(const char* type, const void* context) {
  const auto& folded = *static_cast<const std::unordered_set<std::string>*>(context);
  return folded.count(ascii::folded(text_name_of(type))) > 0;
}

}  // namespace

ContentTypeHint::ContentTypeHint(const std::vector<std::string>& folded) {
  if (folded.empty()) return;
  std::unordered_set<std::string> asked(folded.begin(), folded.end());
  // A head no rule matches is text/plain when it looks like text.
  anyType_ = asked.count(ascii::folded(text_name_of("text/plain"))) > 0;
  for (const MimeDatabaseFolder& folder : *mime_database()) {
    if (anyType_) break;
    if (folder.cache == nullptr) {
      // Without a cache the database is read from its source files: their rules are unknown here.
      anyType_ = folder.uncachedRules;
      continue;
    }
    std::unique_ptr<MagicRules> rules = MagicRules::FromCache(folder.cache, wanted_type, &asked);
    if (rules == nullptr) anyType_ = true;
    else if (!rules->IsEmpty()) rules_.push_back(std::move(rules));
  }
}

ContentTypeHint::~ContentTypeHint() = default;

bool ContentTypeHint::CouldBeOneOf(bool namePatterns, const uint8_t* head, size_t size) const {
  if (anyType_ || namePatterns) return true;
  size = std::min(size, kHeadSize);
  return std::any_of(rules_.begin(), rules_.end(), [&](const auto& rules) { return rules->Match(head, size); });
}
