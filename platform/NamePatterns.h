// The types the MIME database's name patterns give a file name, read from the database's cache
// files (mime.cache) the way GIO's reader reads them, and with the same answers:
//  1. a literal name ("makefile"), the name folded to lower case first, then as it stands;
//  2. else the longest suffix pattern ("*.tar.gz") of each cache, for the folded name among
//     the patterns that ignore case, then for the name as it stands among all of them while
//     fewer than two types were found;
//  3. then the other patterns ("readme*", "*.[1-9]"): for the folded name when nothing was
//     found yet, for the name as it stands while fewer than two were;
// each type once, sorted by its patterns' best weight. One type is a certain answer; GIO
// calls several uncertain, and gives the first.
// GIO answers the same under one lock for the whole process, which the threads of a search
// met on a thousand times a search. Here the caches are read once and shared read-only, so a
// lookup takes no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct MimeDatabaseFolder;

class NamePatterns {
 public:
  static constexpr size_t kMostTypes = 10;

  // The patterns of the database's current caches, checked again for a change at most every
  // few seconds, as GIO checks; null where this reader cannot answer as GIO does (a folder
  // with patterns outside a cache, or a cache it does not understand). Never freed: a lookup
  // on another thread may still hold an older one.
  static const NamePatterns* Current();
  // The patterns of these caches, in the database's order; null when one is not a cache this
  // reader understands.
  static std::unique_ptr<NamePatterns> FromCaches(std::vector<std::shared_ptr<const std::string>> caches);
  static std::unique_ptr<NamePatterns> FromDatabase(const std::vector<MimeDatabaseFolder>& folders);

  // The types the patterns give name, best first, into types; how many, or -1 when a damaged
  // cache leaves the answer unknown. The strings live as long as these patterns.
  int TypesOf(const char* name, const char* types[kMostTypes]) const;

 private:
  struct Found {
    const char* type;
    int weight;
  };
  struct Cache;

  explicit NamePatterns(std::vector<std::shared_ptr<const std::string>> caches);
  // Each returns how many it found (into found, at most room), or -1 for damage. A literal
  // gives at most one; suffixes and other patterns add up over the caches.
  int Literal(const std::string& name, bool caseSensitiveToo, Found* found) const;
  int Suffix(const std::string& name, bool caseSensitiveToo, Found* found, size_t room) const;
  int Globs(const std::string& name, bool caseSensitiveToo, Found* found, size_t room) const;
  static int WithoutRepeats(Found* found, int n);

  std::vector<std::shared_ptr<const std::string>> caches_;
};
