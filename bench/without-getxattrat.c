/* An LD_PRELOAD library that makes getxattrat(2) look absent, as on a kernel before Linux 6.13
 * (Debian 12's own 6.1): the syscall wrapper answers ENOSYS to its number, 464, and passes
 * every other call on. bench/run.sh builds it to time that path on a newer kernel. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>

long syscall(long number, ...) {
  static long (*next)(long, ...) = 0;
  va_list args;
  long a[6];
  va_start(args, number);
  for (int i = 0; i < 6; ++i) a[i] = va_arg(args, long);
  va_end(args);
  if (number == 464) {
    errno = ENOSYS;
    return -1;
  }
  if (next == 0) next = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
  return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
