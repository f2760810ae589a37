// Types guessed from a file's name, and from its head, with the answers GIO's
// g_content_type_guess gives, read from the MIME database's cache files (NamePatterns for the
// name, MagicRules for the head). GIO answers under one lock for the whole process, which the
// threads of a search met on for every name and every head; here the caches are read once,
// read again when they change (looked at every few seconds, as GIO looks), and shared
// read-only, so a guess takes no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "NamePatterns.h"

class MagicRules;
struct MimeDatabaseFolder;

class MimeGuess {
 public:
  // The guesser for the database as it stands; null where GIO must answer (a folder whose
  // patterns or rules lie outside a cache, or a cache this reader does not understand). Never
  // freed: a guess on another thread may still hold an older one.
  static const MimeGuess* Current();
  static std::unique_ptr<MimeGuess> FromDatabase(const std::vector<MimeDatabaseFolder>& folders);
  ~MimeGuess();

  // As g_content_type_guess(name, nullptr, 0): the type, and whether GIO calls it uncertain.
  // False when a damaged cache leaves the answer unknown.
  bool ByName(const char* name, const char** type, bool* uncertain) const;
  // As g_content_type_guess(name, head, size) with size > 0. False when GIO must answer: the
  // name matches several patterns (GIO then weighs them against the head) or a cache is damaged.
  bool ByContent(const char* name, const uint8_t* head, size_t size, const char** type, bool* uncertain) const;

 private:
  MimeGuess() = default;
  // The type the caches' content rules give the head: the highest priority's, the first
  // cache's among equals; null when none matches. False for a damaged cache.
  bool Magic(const uint8_t* head, size_t size, const char** type) const;

  std::unique_ptr<NamePatterns> names_;
  std::vector<std::unique_ptr<MagicRules>> magic_;  // one per cache, in the database's order
};
