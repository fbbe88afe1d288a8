#pragma once
// Names of platform services as the SDK headers call them, for annotating
// stub calls in disassembly. The tables are generated from sdk/include.

#include <cstdint>
#include <vector>

namespace tarvel::inspect {

struct ServiceName {
    uint32_t group;
    uint32_t index;
    const char* name;  // the SDK functions that call it, comma-separated
};

struct EntryName {
    uint32_t address;  // a fixed entry of the trap area
    const char* name;
};

// Both sorted: services by (group, index), entries by address.
const std::vector<ServiceName>& service_names();
const std::vector<EntryName>& entry_names();

}  // namespace tarvel::inspect
