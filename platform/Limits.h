// What this process may use of the machine: processors and file descriptors.
#pragma once

#include <cstddef>

// The processors this process may run on (its affinity mask, as taskset or a container sets
// it), at least 1.
int available_cpus();

// The soft limit on open file descriptors; 0 when there is none.
size_t descriptor_limit();
