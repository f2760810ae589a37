// Whether a file's content could give it one of a few types, answered without a full content
// guess. A guess (BNodeInfo::GetTypeFromContent, GIO's) tries the content rules of every type
// in the MIME database, some hundreds; a file whose name matches no pattern can only be given
// a type whose rules match its head, or text/plain when none does. So where text/plain is not
// among the types, only the rules of the types asked about need trying, and a file none of
// them matches cannot be of those types, whatever the rest of the database says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The content rules ("magic") of some types of one MIME database cache file (mime.cache, as
// shared-mime-info writes it).
class MagicRules {
 public:
  // Reads the rules of the types for which wanted is true; null when the bytes are not a cache
  // this reader understands. Every offset is checked against the bytes.
  static std::unique_ptr<MagicRules> FromCache(std::shared_ptr<const std::string> bytes,
                                               bool (*wanted)(const char* type, const void* context), const void* context);
  // Whether one of the rules read matches a file's head, as the database's reader matches it
  // (or, for a damaged cache, when trying would cost too much).
  bool Match(const uint8_t* head, size_t size) const;
  bool IsEmpty() const { return matches_.empty(); }
  // The first type in the cache's order (highest priority first) whose rules match the head,
  // with its priority, as GIO's reader looks it up; null with priority 0 when none does. False
  // when a damaged cache would cost too much to try.
  bool FirstMatch(const uint8_t* head, size_t size, const char** type, uint32_t* priority) const;

 private:
  explicit MagicRules(std::shared_ptr<const std::string> bytes) : owner_(std::move(bytes)), bytes_(*owner_) {}
  bool Read32(size_t offset, uint32_t* value) const;
  // work: byte comparisons left; when they run out, whatever is being tried matches.
  bool MatchletMatches(uint32_t offset, const uint8_t* head, size_t size, int depth, int64_t& work) const;
  bool ValueAt(uint32_t offset, const uint8_t* head, size_t size, int64_t& work) const;

  struct Matchlets {
    uint32_t count;
    uint32_t first;
    uint32_t priority;
    const char* type;
  };
  // Whether one of a type's top-level matchlets matches.
  bool AnyMatches(const Matchlets& match, const uint8_t* head, size_t size, int64_t& work) const;
  std::shared_ptr<const std::string> owner_;
  const std::string& bytes_;
  std::vector<Matchlets> matches_;  // the wanted types' top-level matchlets
};

class ContentTypeHint {
 public:
  // folded: the types asked about, in lower case. The MIME database's caches are read again
  // only when they changed; where one cannot be read, every file could be of any type.
  explicit ContentTypeHint(const std::vector<std::string>& folded);
  ~ContentTypeHint();
  // False only when a file whose name matches no pattern of the database (namePatterns false),
  // with this head (its first kHeadSize bytes, or all of it when shorter), cannot be given one
  // of the types by GetTypeFromContent.
  bool CouldBeOneOf(bool namePatterns, const uint8_t* head, size_t size) const;
  // True when every file could be of the types: no head needs reading to say so.
  bool RefusesNothing() const { return anyType_; }
  // False when no head could give one of the types: no file needs reading to say no.
  bool NeedsHead() const { return !anyType_ && !rules_.empty(); }
  static constexpr size_t kHeadSize = 4096;  // what a content guess reads

 private:
  bool anyType_ = false;  // text/plain is asked about, or the database could not be read
  std::vector<std::unique_ptr<MagicRules>> rules_;
};
