#include "elf_image.hpp"

#include <elf.h>

#include <algorithm>

#include "common/file_io.hpp"

namespace tarvel::pack {
namespace {

// Field reads in the file's byte order, bounds already checked by the caller.
class Reader {
public:
    Reader(std::span<const u8> file, bool big_endian) : file_(file), be_(big_endian) {}

    bool fits(u64 offset, u64 size) const { return offset <= file_.size() && size <= file_.size() - offset; }
    u16 half(u64 offset) const { return load16(file_.data() + offset, be_); }
    u32 word(u64 offset) const { return load32(file_.data() + offset, be_); }
    std::span<const u8> bytes(u64 offset, u64 size) const { return file_.subspan(offset, size); }

    // A NUL-terminated name inside the string table [table, table + size).
    std::string name(u64 table, u64 size, u32 index) const {
        if (index >= size) return {};
        const u8* start = file_.data() + table + index;
        const u8* end = file_.data() + table + size;
        const u8* nul = std::find(start, end, u8{0});
        return std::string(reinterpret_cast<const char*>(start), static_cast<size_t>(nul - start));
    }

private:
    std::span<const u8> file_;
    bool be_;
};

struct SectionHeader {
    u32 name, type, flags, addr, offset, size, link, entsize;
};

SectionHeader section_header(const Reader& r, u64 at) {
    return SectionHeader{r.word(at + offsetof(Elf32_Shdr, sh_name)),
                         r.word(at + offsetof(Elf32_Shdr, sh_type)),
                         r.word(at + offsetof(Elf32_Shdr, sh_flags)),
                         r.word(at + offsetof(Elf32_Shdr, sh_addr)),
                         r.word(at + offsetof(Elf32_Shdr, sh_offset)),
                         r.word(at + offsetof(Elf32_Shdr, sh_size)),
                         r.word(at + offsetof(Elf32_Shdr, sh_link)),
                         r.word(at + offsetof(Elf32_Shdr, sh_entsize))};
}

}  // namespace

std::optional<u32> ElfImage::symbol(std::string_view name) const {
    for (const ElfSymbol& s : symbols) {
        if (s.name == name) return s.value;
    }
    return std::nullopt;
}

Result<ElfImage> read_elf(std::span<const u8> file) {
    if (file.size() < sizeof(Elf32_Ehdr) || file[EI_MAG0] != ELFMAG0 || file[EI_MAG1] != ELFMAG1 ||
        file[EI_MAG2] != ELFMAG2 || file[EI_MAG3] != ELFMAG3) {
        return Error("not an ELF file");
    }
    if (file[EI_CLASS] != ELFCLASS32) return Error("not a 32-bit ELF file");
    if (file[EI_DATA] != ELFDATA2LSB && file[EI_DATA] != ELFDATA2MSB) {
        return Error("ELF file has an unknown byte order");
    }
    ElfImage image;
    image.big_endian = file[EI_DATA] == ELFDATA2MSB;
    const Reader r(file, image.big_endian);

    if (r.half(offsetof(Elf32_Ehdr, e_machine)) != EM_ARM) return Error("ELF file is not for ARM");
    if (r.half(offsetof(Elf32_Ehdr, e_type)) != ET_EXEC) return Error("ELF file is not a linked executable");
    image.entry = r.word(offsetof(Elf32_Ehdr, e_entry));

    const u64 shoff = r.word(offsetof(Elf32_Ehdr, e_shoff));
    const u64 shentsize = r.half(offsetof(Elf32_Ehdr, e_shentsize));
    const u64 shnum = r.half(offsetof(Elf32_Ehdr, e_shnum));
    const u64 shstrndx = r.half(offsetof(Elf32_Ehdr, e_shstrndx));
    if (shnum == 0) return Error("ELF file has no section headers");
    if (shentsize < sizeof(Elf32_Shdr) || !r.fits(shoff, shentsize * shnum)) {
        return Error("ELF section headers lie outside the file");
    }
    std::vector<SectionHeader> headers;
    for (u64 i = 0; i < shnum; ++i) headers.push_back(section_header(r, shoff + i * shentsize));

    u64 names_at = 0, names_size = 0;
    if (shstrndx < shnum && headers[shstrndx].type == SHT_STRTAB &&
        r.fits(headers[shstrndx].offset, headers[shstrndx].size)) {
        names_at = headers[shstrndx].offset;
        names_size = headers[shstrndx].size;
    }

    for (const SectionHeader& h : headers) {
        if (h.type == SHT_SYMTAB) {
            if (h.entsize < sizeof(Elf32_Sym) || !r.fits(h.offset, h.size) || h.link >= shnum) {
                return Error("ELF symbol table lies outside the file");
            }
            const SectionHeader& strtab = headers[h.link];
            if (!r.fits(strtab.offset, strtab.size)) return Error("ELF string table lies outside the file");
            for (u64 at = h.offset; at + h.entsize <= u64{h.offset} + h.size; at += h.entsize) {
                ElfSymbol s;
                s.name = r.name(strtab.offset, strtab.size, r.word(at + offsetof(Elf32_Sym, st_name)));
                s.value = r.word(at + offsetof(Elf32_Sym, st_value));
                s.size = r.word(at + offsetof(Elf32_Sym, st_size));
                s.type = ELF32_ST_TYPE(file[at + offsetof(Elf32_Sym, st_info)]);
                if (!s.name.empty()) image.symbols.push_back(std::move(s));
            }
            continue;
        }
        if (!(h.flags & SHF_ALLOC) || h.size == 0) continue;
        ElfSection s;
        s.name = r.name(names_at, names_size, h.name);
        s.address = h.addr;
        s.size = h.size;
        s.writable = (h.flags & SHF_WRITE) != 0;
        s.executable = (h.flags & SHF_EXECINSTR) != 0;
        s.nobits = h.type == SHT_NOBITS;
        if (u64{h.addr} + h.size >= 0x100000000ull) {
            return Error::format("ELF section {} runs past the end of the address space", s.name);
        }
        if (!s.nobits) {
            if (!r.fits(h.offset, h.size)) return Error::format("ELF section {} lies outside the file", s.name);
            const auto bytes = r.bytes(h.offset, h.size);
            s.bytes.assign(bytes.begin(), bytes.end());
        }
        image.sections.push_back(std::move(s));
    }
    std::stable_sort(image.sections.begin(), image.sections.end(),
                     [](const ElfSection& a, const ElfSection& b) { return a.address < b.address; });
    for (size_t i = 1; i < image.sections.size(); ++i) {
        const ElfSection& prev = image.sections[i - 1];
        if (u64{prev.address} + prev.size > image.sections[i].address) {
            return Error::format("ELF sections {} and {} overlap", prev.name, image.sections[i].name);
        }
    }
    return image;
}

Result<ElfImage> load_elf(const std::string& path) {
    auto bytes = read_whole_file(path);
    if (!bytes.ok()) return std::move(bytes).error().context("Failed to read ELF file {}", path);
    auto image = read_elf(*bytes);
    if (!image.ok()) return std::move(image).error().context("Invalid ELF file {}", path);
    return image;
}

}  // namespace tarvel::pack
