// Mounts the stalling file system (tests/window/StallFs.c) over a folder for the life of the
// object, where FUSE mounts can be made (as root and with /dev/fuse); mounted() says whether
// it is there. Its one file, "slow.txt", answers each read after 20 seconds.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class StallMount {
 public:
  // extra: the file system's further arguments (SECONDS, NAME, FAST).
  explicit StallMount(const std::string& folder, const std::vector<std::string>& extra = {});
  ~StallMount();
  StallMount(const StallMount&) = delete;
  StallMount& operator=(const StallMount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  bool mounted_ = false;
};
