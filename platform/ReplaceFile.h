// Replacing a file as a whole: readers see the old content or the new, never a mix, and a
// failed write leaves the old file as it was.
#pragma once

#include <functional>
#include <string>

#include "SupportDefs.h"

class BFile;

// The start of the names of the new files replace_file makes beside their targets.
constexpr const char* kReplacePrefix = ".tarnwickloft-saving-";

// True for a name replace_file gives its new files, which are never a user's own.
bool is_replace_temporary(const char* name);

// Where a write to path lands: each link at its end is followed, as the kernel follows links
// under fs.protected_symlinks, to the name that is not a link (which may not exist yet). A link
// that sits in a sticky folder others may write to (/tmp, a team folder) is followed only when
// it belongs to this user or to the folder's owner; another's is refused with B_PERMISSION_DENIED,
// so that nobody can plant a link there that makes this user's save write elsewhere.
status_t link_target_for_writing(const std::string& path, std::string* target);

// Replaces the file at target (an absolute path, not a link: resolve one first) with one
// holding bytes. The bytes go to a new file in target's folder under an unpredictable hidden
// name, created exclusively and never through a link, with the old file's permissions from
// the start (or 0666 less the umask for a new one); it is synced, handed to finish
// (attributes, a type), and renamed over target only when all of that succeeded. On any
// failure target is untouched and the new file removed. Files of earlier replacements that
// died midway, in the same folder, owned by this user and over a minute old, are removed
// first.
struct ReplaceOptions {
  unsigned newFileMode = 0666;  // a new file's permissions, narrowed by the umask
  // Synced before the rename. Files that can be made again (a cache) skip it: after a crash
  // such a file may be empty or cut short, never a mix of two writes.
  bool sync = true;
  // Removes the stale temporaries of the folder first. A folder of many small files written
  // often (a cache) removes them itself, now and then, with remove_stale_temporaries.
  bool sweep = true;
};
status_t replace_file(const std::string& target, const std::string& bytes,
                      const std::function<status_t(BFile&)>& finish = {}, const ReplaceOptions& options = {});

// Removes what killed replacements left in folder: regular files of this user with the prefix
// above, not touched for a minute.
void remove_stale_temporaries(const std::string& folder);
