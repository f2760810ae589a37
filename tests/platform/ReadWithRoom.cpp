// Reads a saved record in a fresh process whose address space may grow by at most ROOM bytes,
// so that what it needs is measured against a heap no earlier test has grown:
//   read-with-room FILE ROOM LEVELS
// It goes down LEVELS nested "inner" messages one at a time, as a reader of a record does.
// The exit status is the read's status, negated (0 when it read).
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/Message.h"

namespace {

size_t address_space_in_use() {
  FILE* statm = fopen("/proc/self/statm", "r");
  unsigned long pages = 0;
  if (statm != nullptr) {
    if (fscanf(statm, "%lu", &pages) != 1) pages = 0;
    fclose(statm);
  }
  return pages * size_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  rlimit limit{address_space_in_use() + strtoull(argv[2], nullptr, 10), RLIM_INFINITY};
  setrlimit(RLIMIT_AS, &limit);
  BFile file(argv[1], B_READ_ONLY);
  BMessage message;
  status_t status = message.Unflatten(&file);
  for (int level = 0, levels = atoi(argv[3]); status == B_OK && level < levels; ++level) {
    BMessage inner;
    status = message.FindMessage("inner", &inner);
    message = inner;
  }
  return -status;
}
