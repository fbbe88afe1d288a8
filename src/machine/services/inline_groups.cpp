// The small groups whose every answer is fixed or a one-line operation.

#include <algorithm>

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

void stream_helper_service(TarvelMachine& m, u32 index) {
    if (index == 20) return handler_for_group(3)(m, 23);  // decode stream, the image group's operation
    if (index == 11) {
        const u32 r0 = service_arg(m, 0);
        if (r0 != 0) {
            m.memory.write32(r0, 0);
            m.memory.write32(r0 + 4, 0);
            m.memory.write32(r0 + 8, 0);
        }
    }
    set_result(m, 0);
}

void table_fill_service(TarvelMachine& m, u32 index) {
    if (index != 6) return set_result(m, 0);
    const u32 record = service_arg(m, 0);
    const u32 table = m.memory.read32(record);
    if (table != 0) {
        const u32 size = m.memory.read16(record + 4);
        write_stub_table(m, table, 28, std::min<u32>(size / 4, 40));
    }
    set_result(m, 0x0A0E1400);
}

void fixed_answer_service(TarvelMachine& m, u32 index) { set_result(m, index == 4 ? 0xFFFFFFFFu : 0); }

void heap_block_service(TarvelMachine& m, u32 index) {
    set_result(m, index == 4 ? m.heap.allocate(service_arg(m, 0)) : 0);
}

void capability_service(TarvelMachine& m, u32 index) { set_result(m, index == 30 ? 1 : 0); }

}  // namespace tarvel::machine::services
