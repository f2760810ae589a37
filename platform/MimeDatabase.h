// The desktop's MIME database as its files stand: each folder's cache file (mime.cache, as
// update-mime-database writes it), read whole, and what lies outside a cache.
#pragma once

#include <memory>
#include <string>
#include <vector>

// One folder of the database, with what its files' status said when they were read.
struct MimeDatabaseFolder {
  std::shared_ptr<const std::string> cache;  // null when there is none that could be read
  bool uncachedRules = false;     // content rules ("magic") without a cache
  bool uncachedPatterns = false;  // name patterns ("globs2", "globs") without a cache
  std::string cacheStatus, magicStatus, globsStatus;
};

// The database's folders (each a ".../mime"), the user's first, found once per process as
// GIO's reader finds them.
const std::vector<std::string>& mime_database_folders();

// The folders in the order GIO reads them, the user's first. Read again when a file of one
// changed (a package installed), as GIO reads it again, so that a new rule is never missed;
// otherwise the same folders, shared. Costs a few stat(2) calls; callers on a hot path keep
// what it returned for a while.
std::shared_ptr<const std::vector<MimeDatabaseFolder>> mime_database();

// Whether bytes start as a cache of the versions this program reads (1.1 and 1.2), long enough
// for the header's list offsets.
bool mime_cache_understood(const std::string& bytes);

// A file of the database read whole, at once (not a line or a byte at a time); false when it
// cannot be read or is larger than any database file is (64 MiB).
bool read_database_file(const std::string& path, std::string* bytes);
