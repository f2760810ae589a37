#include "StackGuard.h"

#include <cstdint>
#include <pthread.h>

namespace {

// The lowest usable address of this thread's stack, found once per thread. For the main
// thread glibc reports the stack size limit, which the stack may grow to.
uintptr_t stack_floor() {
  thread_local uintptr_t floor = [] {
    pthread_attr_t attr;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return uintptr_t(0);
    pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    return uintptr_t(base);
  }();
  return floor;
}

}  // namespace

bool stack_has_room(size_t bytes) {
  char here;
  uintptr_t floor = stack_floor();
  uintptr_t top = reinterpret_cast<uintptr_t>(&here);
  return floor == 0 || (top > floor && top - floor > bytes);
}
