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
// A lookup reads the caches and changes nothing: threads share one without a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class NamePatterns {
 public:
  static constexpr size_t kMostTypes = 10;

  // The patterns of these caches, in the database's order; null when one is not a cache this
  // reader understands.
  static std::unique_ptr<NamePatterns> FromCaches(std::vector<std::shared_ptr<const std::string>> caches);

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
  // One node of a cache's suffix tree, matched against name[0, length) from its end.
  static int SuffixNode(const std::string& bytes, uint32_t count, uint32_t offset, const std::string& name,
                        size_t length, bool caseSensitiveToo, Found* found, size_t room);

  std::vector<std::shared_ptr<const std::string>> caches_;
};
