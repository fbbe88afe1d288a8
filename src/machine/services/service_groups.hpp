#pragma once
// The handler of every service group that has one, by family. Each family lives
// in its own file; dispatch.cpp puts them in the group table.

#include "common/bytes.hpp"

namespace tarvel::machine {
struct TarvelMachine;
}

namespace tarvel::machine::services {

// interface_tables.cpp: stub tables, and the interface object request of the
// system entry (`block` holds the address of an output word, an object id and
// the size of the output area).
void interface_table_service(TarvelMachine& machine, u32 index);  // group 0
void interface_object_request(TarvelMachine& machine, u32 block);

// system_info.cpp: the system's fixed answers.
void system_info_service(TarvelMachine& machine, u32 index);    // group 1
void system_word_service(TarvelMachine& machine, u32 index);    // group 11
void device_id_service(TarvelMachine& machine, u32 index);      // group 24
void system_stream_service(TarvelMachine& machine, u32 index);  // group 25

// timer.cpp: timers and the clock.
void timer_service(TarvelMachine& machine, u32 index);  // group 7

// memory_blocks.cpp: heap blocks and arenas.
void memory_block_service(TarvelMachine& machine, u32 index);  // group 2

// inline_groups.cpp: the small fixed-answer groups.
void stream_helper_service(TarvelMachine& machine, u32 index);   // group 16
void table_fill_service(TarvelMachine& machine, u32 index);      // group 20
void fixed_answer_service(TarvelMachine& machine, u32 index);    // group 22
void heap_block_service(TarvelMachine& machine, u32 index);      // group 26
void capability_service(TarvelMachine& machine, u32 index);      // group 28

// image_group.cpp and draw_group.cpp: images, colours, blits, rectangles, text.
void image_service(TarvelMachine& machine, u32 index);  // group 3
void draw_service(TarvelMachine& machine, u32 index);   // group 4

// utility.cpp and data.cpp: resource lookups, cursors, trigonometry; resource packages.
void utility_service(TarvelMachine& machine, u32 index);  // group 10
void data_service(TarvelMachine& machine, u32 index);     // group 21

// files.cpp: the in-memory filesystem.
void file_service(TarvelMachine& machine, u32 index);  // group 5

// strings.cpp and wide_strings.cpp: the byte-string and wide-string libraries.
void string_service(TarvelMachine& machine, u32 index);       // group 6
void wide_string_service(TarvelMachine& machine, u32 index);  // group 13

// network.cpp: the simulated network.
void network_service(TarvelMachine& machine, u32 index);  // group 9

// audio.cpp: sounds through the audio engine.
void audio_service(TarvelMachine& machine, u32 index);  // group 18

// screen_stack.cpp
void screen_stack_service(TarvelMachine& machine, u32 index);  // group 14

}  // namespace tarvel::machine::services
