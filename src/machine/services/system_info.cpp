// The platform's fixed system answers: system information (group 1), the
// system words (group 11), the device identifier (group 24) and the system
// stream entry (group 25).

#include <algorithm>
#include <string_view>

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

void system_info_service(TarvelMachine& m, u32 index) {
    GuestMemory& memory = m.memory;
    const u32 r0 = result(m);
    switch (index) {
        case 3: return set_result(m, 3);
        case 15: case 37: case 80: case 89: return set_result(m, 1);
        case 17:  // the UTF-16 text "./" with its terminator
            memory.write16(r0, u'.');
            memory.write16(r0 + 2, u'/');
            memory.write16(r0 + 4, 0);
            return set_result(m, 4);
        case 22: return set_result(m, 255);
        case 25: {
            constexpr std::string_view kName("cbe_emu\0", 8);
            const u32 count = std::min<u32>(service_arg(m, 1), 8);
            for (u32 i = 0; i < count; ++i) memory.write8(r0 + i, static_cast<u8>(kName[i]));
            return set_result(m, 0);
        }
        case 30: return set_result(m, 46);
        case 33: return set_result(m, 1002);
        case 47: return set_result(m, static_cast<u32>(m.instruction_count));
        case 64: return set_result(m, 14);
        case 65: return set_result(m, 5);
        case 106:
            if (service_arg(m, 1) != 0 && service_arg(m, 2) != 0) memory.write8(service_arg(m, 1), 0);
            return set_result(m, 0);
        default: return set_result(m, 0);
    }
}

void system_word_service(TarvelMachine& m, u32 index) {
    if (index == 8) {
        m.memory.write32(kSystemWordA, 0);
        m.memory.write32(kSystemWordB, kSystemArenaRecord);
        return set_result(m, 0);
    }
    // The resource directory constructor belongs to the data service, which
    // offers the same operation as its own index 0.
    if (index == 10) return handler_for_group(21)(m, 0);
    set_result(m, 0);
}

void device_id_service(TarvelMachine& m, u32 index) {
    if (index == 7) {
        constexpr std::string_view kDeviceId("111111111111111\0", 16);
        const u32 buffer = service_arg(m, 0);
        const u32 size = service_arg(m, 1);
        if (buffer != 0 && size != 0) {
            const u32 count = std::min<u32>(size, 16);
            for (u32 i = 0; i < count; ++i) m.memory.write8(buffer + i, static_cast<u8>(kDeviceId[i]));
            m.memory.write8(buffer + count - 1, 0);
        }
    }
    set_result(m, 0);
}

void system_stream_service(TarvelMachine& m, u32 index) {
    if (index == 0) return set_result(m, m.memory.read32(kSystemWordA));
    // Loading an image from a guest stream is the drawing service's operation
    // (its group 4 index 49); this entry hands it the same registers.
    if (index == 10) return handler_for_group(4)(m, 49);
    set_result(m, 0);
}

}  // namespace tarvel::machine::services
