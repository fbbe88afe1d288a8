#pragma once
// Reads a linked 32-bit ARM executable (either byte order) far enough to pack
// it: its allocated sections with their bytes, its symbols and its entry.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel::pack {

struct ElfSection {
    std::string name;
    u32 address = 0;
    u32 size = 0;
    bool writable = false;
    bool executable = false;
    bool nobits = false;    // occupies memory but no file bytes (.bss)
    std::vector<u8> bytes;  // empty for nobits sections
};

struct ElfSymbol {
    std::string name;
    u32 value = 0;
    u32 size = 0;
    u8 type = 0;  // STT_* of the symbol
};

struct ElfImage {
    bool big_endian = false;
    u32 entry = 0;
    std::vector<ElfSection> sections;  // allocated sections with a size, by address
    std::vector<ElfSymbol> symbols;

    std::optional<u32> symbol(std::string_view name) const;
};

// Every offset and count is checked against the buffer; a malformed file gives
// an error naming what is wrong.
Result<ElfImage> read_elf(std::span<const u8> file);
Result<ElfImage> load_elf(const std::string& path);

}  // namespace tarvel::pack
