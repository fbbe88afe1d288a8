#include "common/value.hpp"
int memory_value() { return 2; }
