#include "machine/services/dispatch.hpp"

#include <array>

#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

namespace {

// One entry per group. Groups whose family is not written yet answer 0 until
// their handler takes the slot.
constexpr std::array<ServiceHandler, kServiceGroupCount> kGroupTable = {
    interface_table_service,  // 0: interface tables
    system_info_service,  // 1: system information
    memory_block_service,  // 2: memory blocks and arenas
    image_service,  // 3: images, colours, input words, decode streams
    draw_service,  // 4: drawing primitives and text
    file_service,  // 5: files
    string_service,  // 6: string and number library
    timer_service,  // 7: timers and clocks
    answer_zero,  // 8: none
    network_service,  // 9: network (simulated)
    utility_service,  // 10: utility calls
    system_word_service,  // 11: system words
    answer_zero,  // 12: none
    wide_string_service,  // 13: wide strings
    screen_stack_service,  // 14: screen stack
    answer_zero,  // 15: none
    stream_helper_service,  // 16: decode stream helper
    answer_zero,  // 17: none
    audio_service,  // 18: audio
    answer_zero,  // 19: none
    table_fill_service,  // 20: group 28 table fill
    data_service,  // 21: data (resource packages)
    fixed_answer_service,  // 22: fixed answers
    answer_zero,  // 23: none
    device_id_service,  // 24: device identifier
    system_stream_service,  // 25: system word and image stream
    heap_block_service,  // 26: heap blocks
    answer_zero,  // 27: none (its key counts arena calls)
    capability_service,  // 28: capability answers
};

}  // namespace

void answer_zero(TarvelMachine& machine, u32) { set_result(machine, 0); }

ServiceHandler handler_for_group(u32 group) {
    return group < kServiceGroupCount ? kGroupTable[group] : answer_zero;
}

void dispatch_service(TarvelMachine& machine, u32 group, u32 index) { handler_for_group(group)(machine, index); }

void write_stub_table(TarvelMachine& machine, u32 table, u32 group, u32 count) {
    for (u32 i = 0; i < count; ++i) machine.memory.write32(table + 4 * i, service_stub(group, i));
}

}  // namespace tarvel::machine::services
