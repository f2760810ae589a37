// This process: the executable it runs, and what it may use of the machine.
#pragma once

#include <cstddef>
#include <string>

#include "SupportDefs.h"

// The absolute path of the executable this process runs (the kernel's /proc/self/exe, so
// links are resolved); "" when it cannot be read.
std::string running_executable();

// PREFIX when the executable is installed as PREFIX/bin/NAME (its helpers are then in
// PREFIX/libexec/tarnwickloft); "" otherwise (run from a build folder).
std::string installed_prefix(const std::string& executable);

// The processors this process may run on (its affinity mask, as taskset or a container sets
// it), at least 1.
int available_cpus();

// The soft limit on open file descriptors; 0 when there is none.
size_t descriptor_limit();

// How many descriptors this process has open now (the entries of /proc/self/fd); 0 when that
// cannot be read.
size_t open_descriptor_count();
// The processor time the calling thread has used, in seconds.
double thread_cpu_seconds();

// The C locale for the calling thread while the object lives, whatever the process's locale.
// File types are read by name through patterns GIO matches with fnmatch, which in a multibyte
// locale (a desktop application's) turns every name and pattern into wide characters first;
// byte by byte it is several times faster, and the same as tarnwickloft-find, which never
// sets a locale, has always matched.
class CLocaleOnThisThread {
 public:
  CLocaleOnThisThread();
  ~CLocaleOnThisThread();
  CLocaleOnThisThread(const CLocaleOnThisThread&) = delete;
  CLocaleOnThisThread& operator=(const CLocaleOnThisThread&) = delete;

 private:
  void* c_;         // locale_t, kept out of this header
  void* previous_;
};

// True when a status says the process, or the system, has no descriptor left to open a file
// with (EMFILE or ENFILE).
inline bool out_of_descriptors(status_t status) { return status == B_NO_MORE_FDS || status == -ENFILE; }
