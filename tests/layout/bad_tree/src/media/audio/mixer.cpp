#include "memory/guest_memory.hpp"
int mixer_value() { return 4; }
