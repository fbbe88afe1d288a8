// cbe-pack's library on hand-made programs: layout rules and their errors,
// resource package forms, the byte-order tie of the code checksum, and ELF
// files that are not what they claim to be.

#include <gtest/gtest.h>

#include <elf.h>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "elf_image.hpp"
#include "packer.hpp"
#include "program_layout.hpp"
#include "resource_header.hpp"

namespace tarvel::pack {
namespace {

ElfSection section(const char* name, u32 address, std::vector<u8> bytes, bool writable, bool nobits = false,
                   u32 nobits_size = 0) {
    ElfSection s;
    s.name = name;
    s.address = address;
    s.writable = writable;
    s.nobits = nobits;
    s.size = nobits ? nobits_size : static_cast<u32>(bytes.size());
    if (!nobits) s.bytes = std::move(bytes);
    return s;
}

ElfImage program(u32 base, bool big_endian) {
    ElfImage elf;
    elf.big_endian = big_endian;
    elf.entry = base | 1;
    elf.sections.push_back(section(".text", base, {0x10, 0xB5, 1, 2, 3, 4, 5, 6, 7, 8}, false));
    elf.sections.push_back(section(".data", base + 0x10, {9, 9, 9, 9, 8, 8, 8, 8}, true));
    elf.sections.push_back(section(".bss", base + 0x18, {}, true, true, 0x20));
    return elf;
}

ResourcePackage no_resources() { return {}; }

cbe::CbeArchive parse(const std::vector<u8>& bytes) {
    auto archive = cbe::parse_archive(bytes);
    EXPECT_TRUE(archive.ok()) << archive.error().to_string();
    return archive.ok() ? std::move(*archive) : cbe::CbeArchive{};
}

TEST(ProgramLayout, DefaultBaseGivesLoadAddressZeroAndCoversBss) {
    auto layout = layout_program(program(kDefaultCodeBase, false), {});
    ASSERT_TRUE(layout.ok()) << layout.error().to_string();
    EXPECT_EQ(layout->load_address, 0u);
    EXPECT_EQ(layout->data_offset, 0x10u);
    EXPECT_EQ(layout->data_size, 0x28u) << ".data and .bss";
    EXPECT_EQ(layout->code.size(), 10u);
    EXPECT_EQ(layout->init_data, (std::vector<u8>{9, 9, 9, 9, 8, 8, 8, 8}));

    auto bytes = pack_cbe(*layout, no_resources(), {});
    ASSERT_TRUE(bytes.ok());
    const cbe::CbeArchive a = parse(*bytes);
    EXPECT_EQ(a.executable.load_address, 0u);
    EXPECT_EQ(a.executable.data_offset, 0x10u);
    EXPECT_EQ(a.executable.code_length, 10u);
    EXPECT_EQ(a.executable.big_endian, 0);
}

TEST(ProgramLayout, LoadAddressModes) {
    auto explicit_default = layout_program(program(kDefaultCodeBase, true), {LoadAddressMode::Explicit, false});
    ASSERT_TRUE(explicit_default.ok());
    EXPECT_EQ(explicit_default->load_address, kDefaultCodeBase);

    auto elsewhere = layout_program(program(0x00400000, true), {});
    ASSERT_TRUE(elsewhere.ok());
    EXPECT_EQ(elsewhere->load_address, 0x00400000u) << "auto names a base other than the default";

    auto zero_elsewhere = layout_program(program(0x00400000, true), {LoadAddressMode::Zero, false});
    ASSERT_FALSE(zero_elsewhere.ok());
    EXPECT_NE(zero_elsewhere.error().message().find("0x01000000"), std::string::npos);
}

TEST(ProgramLayout, RejectsProgramsTheMachineCannotStart) {
    ElfImage arm_entry = program(kDefaultCodeBase, false);
    arm_entry.entry = kDefaultCodeBase;  // ARM state: the machine starts in Thumb
    EXPECT_FALSE(layout_program(arm_entry, {}).ok());

    ElfImage late_entry = program(kDefaultCodeBase, false);
    late_entry.entry = kDefaultCodeBase + 5;
    EXPECT_FALSE(layout_program(late_entry, {}).ok());

    auto on_stack = layout_program(program(0x020F0000, false), {});
    ASSERT_FALSE(on_stack.ok());
    EXPECT_NE(on_stack.error().message().find("stack"), std::string::npos);
    EXPECT_FALSE(layout_program(program(0x0BFFFFF0, false), {}).ok()) << "runs into the service stubs";

    ElfImage code_after_data = program(kDefaultCodeBase, false);
    code_after_data.sections.push_back(section(".late", kDefaultCodeBase + 0x100, {1, 2, 3, 4}, false));
    EXPECT_FALSE(layout_program(code_after_data, {}).ok());

    ElfImage huge = program(kDefaultCodeBase, false);
    huge.sections.push_back(section(".far", 0x60000000, {1, 2, 3, 4}, true));
    EXPECT_FALSE(layout_program(huge, {}).ok()) << "a 1.5 GiB image";
    ElfImage top = program(0xFFFFFF00, false);
    EXPECT_FALSE(layout_program(top, {}).ok()) << "the end of the address space";

    ElfImage nothing;
    EXPECT_FALSE(layout_program(nothing, {}).ok());
}

TEST(ProgramLayout, NativeLayoutCarriesDataInTheCodeSegment) {
    EXPECT_FALSE(layout_program(program(0x00400000, false), {LoadAddressMode::Auto, true}).ok())
        << "little-endian";
    EXPECT_FALSE(layout_program(program(kDefaultCodeBase, true), {LoadAddressMode::Zero, true}).ok())
        << "load address 0";

    auto layout = layout_program(program(0x00400000, true), {LoadAddressMode::Auto, true});
    ASSERT_TRUE(layout.ok()) << layout.error().to_string();
    EXPECT_EQ(layout->code.size(), 0x18u) << "code, padding and data";
    EXPECT_EQ(std::vector<u8>(layout->code.begin() + 0x10, layout->code.end()), layout->init_data);
    auto bytes = pack_cbe(*layout, no_resources(), {});
    ASSERT_TRUE(bytes.ok());
    const cbe::CbeExecutable x = parse(*bytes).executable;
    EXPECT_TRUE(x.big_endian && x.load_address != 0 && x.data_offset <= x.code_length);
}

TEST(ProgramLayout, ProgramWithoutDataStillHasNonEmptySegments) {
    ElfImage elf = program(kDefaultCodeBase, false);
    elf.sections.resize(1);
    auto layout = layout_program(elf, {});
    ASSERT_TRUE(layout.ok());
    EXPECT_EQ(layout->init_data.size(), 4u);
    EXPECT_GE(layout->data_size, 4u);
    auto bytes = pack_cbe(*layout, no_resources(), {});
    ASSERT_TRUE(bytes.ok());
    const cbe::CbeArchive a = parse(*bytes);
    EXPECT_EQ(a.executable.init_data_length, 4u);
    EXPECT_EQ(a.executable.embedded_length, 4u);
}

TEST(PackCbe, BigEndianCodeWhoseSumsTieStillReadsBigEndian) {
    ElfImage elf = program(kDefaultCodeBase, true);
    // A palindromic word has the same sum in both byte orders.
    elf.sections[0].bytes = {0x12, 0x34, 0x34, 0x12, 0xAB, 0xCD, 0xCD, 0xAB};
    elf.sections[0].size = 8;
    auto layout = layout_program(elf, {});
    ASSERT_TRUE(layout.ok());
    ASSERT_EQ(cbe_writer::word_sum(layout->code, false), cbe_writer::word_sum(layout->code, true));
    auto bytes = pack_cbe(*layout, no_resources(), {});
    ASSERT_TRUE(bytes.ok());
    const cbe::CbeArchive a = parse(*bytes);
    EXPECT_EQ(a.executable.big_endian, 1);
    EXPECT_EQ(std::vector<u8>(a.bytes.begin() + a.executable.code_offset,
                              a.bytes.begin() + a.executable.code_offset + 8),
              elf.sections[0].bytes)
        << "the program's own bytes are unchanged";
}

ResourceSet sample_set() {
    ResourceSet set;
    set.top.files = {{"a.png", {1, 2, 3}}, {"b.txt", {}}};
    set.packages = {{"music", {{"song.mid", {7, 7}}}}, {"sfx", {{"hit.wav", {5}}, {"x/deep.bin", {6, 6}}}}};
    return set;
}

TEST(Resources, SinglePackageKeepsFolderPathsInNames) {
    auto package = encode_resources(sample_set(), PackageForm::Single);
    ASSERT_TRUE(package.ok());
    auto layout = layout_program(program(kDefaultCodeBase, false), {});
    const cbe::CbeArchive a = parse(pack_cbe(*layout, *package, {}).value());
    ASSERT_EQ(a.resources.main_table.size(), 5u);
    std::vector<std::string> names;
    for (const auto& r : a.resources.main_table) names.push_back(r.name);
    EXPECT_EQ(names, package->main_names);
    EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b.txt", "music/song.mid", "sfx/hit.wav", "sfx/x/deep.bin"}));
    EXPECT_TRUE(a.resources.main_table[1].data.empty());
    EXPECT_TRUE(a.resources.named_packages.empty());
}

TEST(Resources, DirectoryFormListsNamedPackagesAndTheMainTableInPredictedOrder) {
    auto package = encode_resources(sample_set(), PackageForm::Auto);
    ASSERT_TRUE(package.ok());
    auto layout = layout_program(program(kDefaultCodeBase, true), {});
    const cbe::CbeArchive a = parse(pack_cbe(*layout, *package, {}).value());
    std::vector<std::string> names;
    for (const auto& r : a.resources.main_table) names.push_back(r.name);
    EXPECT_EQ(names, package->main_names);
    EXPECT_EQ(names, (std::vector<std::string>{"song.mid", "hit.wav", "x/deep.bin", "a.png", "b.txt"}));
    ASSERT_EQ(a.resources.named_packages.size(), 2u);
    EXPECT_EQ(a.resources.named_packages[1].name, "sfx");
    EXPECT_EQ(a.resources.named_packages[1].resources[1].data, (std::vector<u8>{6, 6}));
}

TEST(Resources, DirectoryWhoseLengthByteWouldReadAsSeparatorIsPadded) {
    // Directory length 8 + (1 + n + 4) has low byte 0xFE for n = 241.
    ResourceSet set;
    set.packages = {{std::string(241, 'p'), {{"f", {1}}}}};
    auto package = encode_resources(set, PackageForm::Directory);
    ASSERT_TRUE(package.ok());
    EXPECT_NE(package->bytes[0], 0xFE);
    auto layout = layout_program(program(kDefaultCodeBase, false), {});
    const cbe::CbeArchive a = parse(pack_cbe(*layout, *package, {}).value());
    ASSERT_EQ(a.resources.named_packages.size(), 1u);
    EXPECT_EQ(a.resources.named_packages[0].name, std::string(241, 'p'));
}

TEST(Resources, NonAsciiNamesSurviveAndOverlongNamesAreRejected) {
    ResourceSet set;
    set.top.files = {{"\xE5\x9B\xBE.png", {1}}};  // a CJK character in UTF-8
    auto package = encode_resources(set, PackageForm::Single);
    ASSERT_TRUE(package.ok());
    auto layout = layout_program(program(kDefaultCodeBase, false), {});
    const cbe::CbeArchive a = parse(pack_cbe(*layout, *package, {}).value());
    ASSERT_EQ(a.resources.main_table.size(), 1u);
    EXPECT_EQ(a.resources.main_table[0].name, "\xE5\x9B\xBE.png");

    set.top.files = {{std::string(256, 'n'), {1}}};
    EXPECT_FALSE(encode_resources(set, PackageForm::Single).ok());
    set.top.files = {{std::string(255, 'n'), {1}}};
    EXPECT_TRUE(encode_resources(set, PackageForm::Single).ok());
}

TEST(Resources, HeaderNamesEveryResourceNumber) {
    ResourcePackage p;
    p.main_names = {"title.png", "sfx/hit-1.wav"};
    const std::string h = resource_header(p);
    EXPECT_NE(h.find("#define TV_RES_TITLE_PNG 0\n"), std::string::npos);
    EXPECT_NE(h.find("#define TV_RES_SFX_HIT_1_WAV 1\n"), std::string::npos);
    EXPECT_NE(h.find("#define TV_RES_COUNT 2\n"), std::string::npos);
}

// A minimal ELF header for the reader's checks.
std::vector<u8> elf_header(u8 klass, u8 data, u16 machine, u16 type) {
    std::vector<u8> f(sizeof(Elf32_Ehdr), 0);
    f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F';
    f[EI_CLASS] = klass;
    f[EI_DATA] = data;
    const bool be = data == ELFDATA2MSB;
    store16(f.data() + offsetof(Elf32_Ehdr, e_type), type, be);
    store16(f.data() + offsetof(Elf32_Ehdr, e_machine), machine, be);
    return f;
}

TEST(ElfReader, RejectsWhatIsNotALinkedArmProgram) {
    EXPECT_FALSE(read_elf(std::vector<u8>{}).ok());
    EXPECT_FALSE(read_elf(std::vector<u8>(100, 0x7F)).ok());
    EXPECT_FALSE(read_elf(elf_header(ELFCLASS64, ELFDATA2LSB, EM_ARM, ET_EXEC)).ok());
    EXPECT_FALSE(read_elf(elf_header(ELFCLASS32, ELFDATA2LSB, EM_386, ET_EXEC)).ok());
    EXPECT_FALSE(read_elf(elf_header(ELFCLASS32, ELFDATA2MSB, EM_ARM, ET_REL)).ok());
    auto no_sections = read_elf(elf_header(ELFCLASS32, ELFDATA2MSB, EM_ARM, ET_EXEC));
    ASSERT_FALSE(no_sections.ok());
    EXPECT_EQ(no_sections.error().message(), "ELF file has no section headers");
}

TEST(ElfReader, SectionTablesOutsideTheFileAreErrors) {
    for (bool be : {false, true}) {
        std::vector<u8> f = elf_header(ELFCLASS32, be ? ELFDATA2MSB : ELFDATA2LSB, EM_ARM, ET_EXEC);
        store32(f.data() + offsetof(Elf32_Ehdr, e_shoff), 0xFFFFFFF0u, be);
        store16(f.data() + offsetof(Elf32_Ehdr, e_shentsize), sizeof(Elf32_Shdr), be);
        store16(f.data() + offsetof(Elf32_Ehdr, e_shnum), 3, be);
        auto r = read_elf(f);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().message(), "ELF section headers lie outside the file");

        // One section header inside the file whose bytes lie outside it.
        store32(f.data() + offsetof(Elf32_Ehdr, e_shoff), static_cast<u32>(f.size()), be);
        store16(f.data() + offsetof(Elf32_Ehdr, e_shnum), 1, be);
        std::vector<u8> sh(sizeof(Elf32_Shdr), 0);
        store32(sh.data() + offsetof(Elf32_Shdr, sh_type), SHT_PROGBITS, be);
        store32(sh.data() + offsetof(Elf32_Shdr, sh_flags), SHF_ALLOC, be);
        store32(sh.data() + offsetof(Elf32_Shdr, sh_offset), 0x7FFFFFF0u, be);
        store32(sh.data() + offsetof(Elf32_Shdr, sh_size), 0x20, be);
        f.insert(f.end(), sh.begin(), sh.end());
        auto outside = read_elf(f);
        ASSERT_FALSE(outside.ok());
        EXPECT_NE(outside.error().message().find("lies outside the file"), std::string::npos);
    }
}

}  // namespace
}  // namespace tarvel::pack
