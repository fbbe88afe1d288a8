#include "memory/guest_memory.hpp"
#include "machine/machine.hpp"
int cpu_value() { return 3; }
