#include "Process.h"

#include <ctime>

#include <dirent.h>
#include <locale.h>
#include <sched.h>
#include <unistd.h>
#include <sys/resource.h>

int available_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

size_t descriptor_limit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return size_t(limit.rlim_cur);
}

double thread_cpu_seconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

size_t open_descriptor_count() {
  DIR* listing = opendir("/proc/self/fd");
  if (listing == nullptr) return 0;
  size_t count = 0;
  while (dirent* entry = readdir(listing))
    if (entry->d_name[0] != '.') ++count;
  closedir(listing);
  return count > 0 ? count - 1 : 0;  // less the listing's own descriptor
}

std::string running_executable() {
  std::string path(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || size_t(length) >= path.size()) return "";
  path.resize(size_t(length));
  return path;
}

std::string installed_prefix(const std::string& executable) {
  std::string folder = executable.substr(0, executable.rfind('/'));
  size_t slash = folder.rfind('/');
  return slash != std::string::npos && folder.compare(slash, std::string::npos, "/bin") == 0 ? folder.substr(0, slash)
                                                                                            : "";
}

CLocaleOnThisThread::CLocaleOnThisThread()
    : c_(newlocale(LC_ALL_MASK, "C", locale_t(nullptr))), previous_(c_ != nullptr ? uselocale(locale_t(c_)) : nullptr) {}

CLocaleOnThisThread::~CLocaleOnThisThread() {
  if (c_ == nullptr) return;
  uselocale(locale_t(previous_));
  freelocale(locale_t(c_));
}
