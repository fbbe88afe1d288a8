#pragma once
// Turns a linked guest program into the pieces of a CBE file: the code image,
// the initialised data and the header values that place them.

#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "elf_image.hpp"

namespace tarvel::pack {

// The machine's base for code when the archive's load address is 0.
inline constexpr u32 kDefaultCodeBase = 0x01000000;

enum class LoadAddressMode {
    Auto,      // 0 when the program is linked at the default base, else explicit
    Zero,      // the header says 0; the program must be linked at the default base
    Explicit,  // the header names the program's base
};

struct LayoutOptions {
    LoadAddressMode load_address = LoadAddressMode::Auto;
    // Big-endian only: the code segment carries code and initialised data
    // together and the program registers itself through the system entry.
    bool native = false;
};

struct ProgramLayout {
    bool big_endian = false;
    u32 load_address = 0;  // header value (0 or the base)
    u32 base = 0;          // where the code is linked
    u32 data_offset = 0;   // data start - base
    u32 data_address = 0;  // data start
    u32 data_size = 0;     // initialised data and .bss
    std::vector<u8> code;
    std::vector<u8> init_data;
};

// Checks that the program fits the machine (entry in Thumb state at its first
// byte, code before data, no overlap with the machine's fixed regions) and
// lays it out. The segments are never empty: an empty segment cannot be told
// apart from the separator that follows it.
Result<ProgramLayout> layout_program(const ElfImage& elf, const LayoutOptions& options);

}  // namespace tarvel::pack
