#include "program_layout.hpp"

#include <algorithm>

namespace tarvel::pack {
namespace {

constexpr u64 align_up(u64 v, u64 a) { return (v + a - 1) / a * a; }

constexpr u32 kMaxImageSize = 32u << 20;

// Copies the file bytes of the sections into [start, end) of a zeroed buffer.
std::vector<u8> gather(const std::vector<const ElfSection*>& sections, u32 start, u32 end) {
    std::vector<u8> out(end - start, 0);
    for (const ElfSection* s : sections) {
        if (s->nobits || s->address >= end) continue;
        const size_t n = std::min<size_t>(s->bytes.size(), end - s->address);
        std::copy_n(s->bytes.begin(), n, out.begin() + (s->address - start));
    }
    return out;
}

// The machine's own regions; a program image must stay clear of them.
struct FixedRegion {
    u32 base, size;
    const char* role;
};
constexpr FixedRegion kFixedRegions[] = {
    {0x02000000, 0x00100000, "stack"},
    {0x05000000, 0x01000000, "RAM"},
    {0x0A000000, 0x00100000, "system area"},
    {0x0C000000, 0x00100000, "service stubs"},
};

}  // namespace

Result<ProgramLayout> layout_program(const ElfImage& elf, const LayoutOptions& options) {
    std::vector<const ElfSection*> code_sections, data_sections;
    for (const ElfSection& s : elf.sections) {
        if (s.writable) {
            data_sections.push_back(&s);
        } else {
            if (!data_sections.empty()) {
                return Error::format("read-only section {} follows the writable section {}", s.name,
                                     data_sections.back()->name);
            }
            code_sections.push_back(&s);
        }
    }
    if (code_sections.empty()) return Error("the program has no code");

    ProgramLayout out;
    out.big_endian = elf.big_endian;
    out.base = code_sections.front()->address;
    if (out.base % 4 != 0) return Error::format("the program's base 0x{:08x} is not word-aligned", out.base);
    // The machine starts the program at its base in Thumb state.
    if (elf.entry != (out.base | 1)) {
        return Error::format("the entry point 0x{:08x} is not Thumb code at the program's base 0x{:08x}",
                             elf.entry, out.base);
    }

    const ElfSection& last_code = *code_sections.back();
    const u32 code_end = last_code.address + last_code.size;
    u32 data_start = static_cast<u32>(align_up(code_end, 8));
    u32 init_end = data_start;
    u32 image_end = data_start;
    if (!data_sections.empty()) {
        data_start = data_sections.front()->address;
        init_end = data_start;
        for (const ElfSection* s : data_sections) {
            if (!s->nobits) init_end = s->address + s->size;
        }
        image_end = data_sections.back()->address + data_sections.back()->size;
    }
    if (data_start % 4 != 0) return Error::format("the data start 0x{:08x} is not word-aligned", data_start);

    // Far larger than any application; also keeps a hostile file from
    // asking for gigabytes of image.
    if (image_end < out.base || image_end - out.base > kMaxImageSize || image_end > 0xFFFFFF00u) {
        return Error::format("the program spans {} bytes; at most {} fit", u64{image_end} - out.base, kMaxImageSize);
    }
    for (const FixedRegion& r : kFixedRegions) {
        if (out.base < u64{r.base} + r.size && r.base < image_end) {
            return Error::format("the program [0x{:08x}, 0x{:08x}) overlaps the machine's {} at 0x{:08x}",
                                 out.base, image_end, r.role, r.base);
        }
    }

    switch (options.load_address) {
        case LoadAddressMode::Zero:
            if (out.base != kDefaultCodeBase) {
                return Error::format("a load address of 0 needs the program linked at 0x{:08x}, not 0x{:08x}",
                                     kDefaultCodeBase, out.base);
            }
            out.load_address = 0;
            break;
        case LoadAddressMode::Explicit:
            out.load_address = out.base;
            break;
        case LoadAddressMode::Auto:
            out.load_address = out.base == kDefaultCodeBase ? 0 : out.base;
            break;
    }
    if (out.base == 0) return Error("a program linked at address 0 cannot name its load address");

    if (options.native) {
        if (!elf.big_endian) return Error("the native layout is for big-endian programs");
        if (out.load_address == 0) return Error("the native layout needs an explicit load address");
        // Code and initialised data travel together; the data segment repeats
        // the data so that it is not empty.
        out.code = gather(code_sections, out.base, code_end);
        std::vector<u8> data = gather(data_sections, data_start, init_end);
        out.code.resize(data_start - out.base, 0);
        out.code.insert(out.code.end(), data.begin(), data.end());
        out.init_data = std::move(data);
    } else {
        out.code = gather(code_sections, out.base, code_end);
        out.init_data = gather(data_sections, data_start, init_end);
    }
    // Segments may not be empty (see the header); a zero word of data is
    // harmless because the data area covers it.
    if (out.init_data.empty()) {
        out.init_data.assign(4, 0);
        image_end = std::max<u32>(image_end, data_start + 4);
    }
    out.data_offset = data_start - out.base;
    out.data_address = data_start;
    out.data_size = image_end - data_start;
    return out;
}

}  // namespace tarvel::pack
