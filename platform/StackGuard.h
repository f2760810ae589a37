// How much of the calling thread's stack is still free, so that deep recursion can stop
// before it overflows.
#pragma once

#include <cstddef>

// True when at least `bytes` of stack remain below the caller's frame.
bool stack_has_room(size_t bytes);
