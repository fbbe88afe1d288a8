// The probe program as packed by cbe-pack: the archive parses back with the
// core's parser, code and data sit where the program was linked, resources
// are found by name, and the start-up code, the application entry and the
// screen callbacks follow the machine's protocol when run on an ARMv4T model.

#include <gtest/gtest.h>

#include <filesystem>

#include "cbe/archive.hpp"
#include "common/file_io.hpp"
#include "guest_cpu.hpp"
#include "sdk_test_paths.hpp"

namespace tarvel::sdk_test {
namespace {

constexpr u32 kSystemArea = 0x0A000000;
constexpr u32 kSystemEntry = 0x0C00F000;
constexpr u32 kFillRect = 0x0C00D010;

u32 stub(u32 group, u32 index) { return 0x0C000000 + group * 0x400 + index * 4; }

class PackedAppTest : public ::testing::TestWithParam<ProbeVariant> {
protected:
    void SetUp() override {
        auto bytes = read_whole_file(GetParam().cbe);
        ASSERT_TRUE(bytes.ok()) << bytes.error().to_string();
        auto archive = cbe::parse_archive(std::move(*bytes));
        ASSERT_TRUE(archive.ok()) << archive.error().to_string();
        archive_ = std::move(*archive);
        auto elf = pack::load_elf(GetParam().elf);
        ASSERT_TRUE(elf.ok()) << elf.error().to_string();
        elf_ = std::move(*elf);
    }

    u32 sym(const char* name) {
        auto v = elf_.symbol(name);
        EXPECT_TRUE(v.has_value()) << name;
        return v.value_or(0);
    }

    std::vector<u8> segment(u32 offset, u32 length) {
        return std::vector<u8>(archive_.bytes.begin() + offset, archive_.bytes.begin() + offset + length);
    }

    // Boots the program as the machine does: Thumb state at the base, r0 the
    // registration table or (native layout) the system entry. Returns the
    // registered application entry.
    u32 boot(GuestCpu& cpu) {
        cpu.map(kSystemArea, 0x100000);
        cpu.load_archive(archive_);
        const cbe::CbeExecutable& x = archive_.executable;
        const u32 base = x.load_address ? x.load_address : 0x01000000;
        if (!GetParam().native) {
            cpu.call(base | 1, {kSystemArea});
            EXPECT_EQ(cpu.read32(kSystemArea + 4), 0u) << "no second word registered";
            return cpu.read32(kSystemArea);
        }
        u32 entry = 0, requests = 0;
        cpu.set_trap_handler([&](GuestCpu& c, u32 address) {
            ASSERT_EQ(address, kSystemEntry);
            ASSERT_EQ(c.reg(0), 1950u);
            const u32 words = c.reg(1);
            entry = c.read32(words);
            EXPECT_EQ(c.read32(words + 4), 0u);
            c.write32(words + 8, kSystemEntry | 1);
            c.set_reg(0, kSystemEntry | 1);
            ++requests;
        });
        cpu.call(base | 1, {kSystemEntry | 1});
        cpu.set_trap_handler(nullptr);
        EXPECT_EQ(requests, 1u);
        return entry;
    }

    cbe::CbeArchive archive_;
    pack::ElfImage elf_;
};

TEST_P(PackedAppTest, HeaderAndSegmentsMatchTheLinkedProgram) {
    const cbe::CbeExecutable& x = archive_.executable;
    const ProbeVariant& v = GetParam();
    EXPECT_EQ(x.big_endian, v.big_endian ? 1 : 0);
    EXPECT_EQ(x.load_address, v.load_address);
    const u32 base = v.load_address ? v.load_address : 0x01000000;
    const u32 data_start = sym("__data_start");
    EXPECT_EQ(x.data_offset, data_start - base);
    EXPECT_GE(u64{x.data_offset} + x.data_size, u64{sym("__bss_end")} - base) << "data area covers .bss";
    if (x.load_address) {
        EXPECT_EQ(x.data_address, data_start);
    }

    // Code: every read-only section at its offset from the base.
    const std::vector<u8> code = segment(x.code_offset, x.code_length);
    for (const pack::ElfSection& s : elf_.sections) {
        if (s.writable) continue;
        ASSERT_LE(u64{s.address} - base + s.size, code.size()) << s.name;
        EXPECT_TRUE(std::equal(s.bytes.begin(), s.bytes.end(), code.begin() + (s.address - base))) << s.name;
    }
    // Initialised data: .data at the start of the data segment; the native
    // layout also carries it inside the code segment.
    const std::vector<u8> data = segment(x.init_data_offset, x.init_data_length);
    for (const pack::ElfSection& s : elf_.sections) {
        if (s.name != ".data") continue;
        ASSERT_LE(s.size, data.size());
        EXPECT_TRUE(std::equal(s.bytes.begin(), s.bytes.end(), data.begin() + (s.address - data_start)));
        if (v.native) {
            ASSERT_LE(u64{s.address} - base + s.size, code.size());
            EXPECT_TRUE(std::equal(s.bytes.begin(), s.bytes.end(), code.begin() + (s.address - base)));
        }
    }
    // The machine's native layout test: big-endian, explicit base, data inside the code.
    const bool native_layout = x.big_endian && x.load_address != 0 && x.data_offset <= x.code_length;
    EXPECT_EQ(native_layout, v.native);
    // The first instruction is the start-up code's push {r4, lr} in Thumb state.
    EXPECT_EQ(load16(code.data(), v.big_endian), 0xB510);
}

TEST_P(PackedAppTest, ResourcesAreFoundByNameWithTheirBytes) {
    const auto& res = archive_.resources;
    const std::filesystem::path dir = SDK_PROBE_RESOURCES;
    auto file = [&](const char* rel) { return read_whole_file((dir / rel).string()).value(); };
    // A sub-folder makes a package directory: the named package's files come
    // first in the main table, then the top-level files by name.
    ASSERT_EQ(res.main_table.size(), 3u);
    EXPECT_EQ(res.main_table[0].name, "one.txt");
    EXPECT_EQ(res.main_table[0].data, file("levels/one.txt"));
    EXPECT_EQ(res.main_table[1].name, "hello.txt");
    EXPECT_EQ(res.main_table[1].data, file("hello.txt"));
    EXPECT_EQ(res.main_table[2].name, "tile.png");
    EXPECT_EQ(res.main_table[2].data, file("tile.png"));
    // The numbers the program was compiled with (tv_resources.h) agree.
    GuestCpu cpu(GetParam().big_endian);
    cpu.load_archive(archive_);
    const u32 numbers = sym("probe_resource_numbers");
    EXPECT_EQ(cpu.read32(numbers + 0), 0u);
    EXPECT_EQ(cpu.read32(numbers + 4), 1u);
    EXPECT_EQ(cpu.read32(numbers + 8), 2u);
    EXPECT_EQ(cpu.read32(numbers + 12), 3u);
    ASSERT_EQ(res.named_packages.size(), 1u);
    EXPECT_EQ(res.named_packages[0].name, "levels");
    ASSERT_EQ(res.named_packages[0].resources.size(), 1u);
    EXPECT_EQ(res.named_packages[0].resources[0].data, file("levels/one.txt"));
}

TEST_P(PackedAppTest, StartUpRegistersTheApplicationEntry) {
    GuestCpu cpu(GetParam().big_endian);
    const u32 entry = boot(cpu);
    EXPECT_EQ(entry, sym("tv_app_main"));
    EXPECT_EQ((entry & 1) != 0, GetParam().thumb);
}

TEST_P(PackedAppTest, ScreenCallbacksReachServicesWithTheirArguments) {
    GuestCpu cpu(GetParam().big_endian);
    const u32 entry = boot(cpu);
    ASSERT_FALSE(HasFailure());

    struct Call {
        u32 address, r0, r1, r2, r3, s0, s1;
    };
    std::vector<Call> calls;
    cpu.set_trap_handler([&](GuestCpu& c, u32 address) {
        const u32 sp = c.reg(13);
        calls.push_back({address, c.reg(0), c.reg(1), c.reg(2), c.reg(3), c.read32(sp), c.read32(sp + 4)});
        c.set_reg(0, 0);
    });
    cpu.call(entry);
    const u32 object = sym("probe_screen");
    const u32 record = object + 24;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].address, stub(14, 4)) << "screen push";
    EXPECT_EQ(calls[0].r0, record);

    // The record as the machine reads it.
    EXPECT_EQ(cpu.read32(record + 0), sym("probe_init"));
    EXPECT_EQ(cpu.read32(record + 8), sym("probe_logic"));
    EXPECT_EQ(cpu.read32(record + 12), sym("probe_render"));
    EXPECT_EQ(cpu.read32(record + 24), 0u);
    EXPECT_EQ(cpu.read32(object), sym("table")) << "user pointer in front of the record";

    // Records in data are passed this = record - 24, the object itself.
    calls.clear();
    cpu.call(cpu.read32(record + 0), {object, 0, 0});
    for (int i = 0; i < 3; ++i) cpu.call(cpu.read32(record + 8), {object, 6, 0});
    EXPECT_EQ(cpu.read32(sym("ticks")), 3u);
    cpu.call(cpu.read32(record + 12), {object, 0, 0});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].address, kFillRect);
    EXPECT_EQ(static_cast<i32>(calls[0].r1), -10);
    EXPECT_EQ(calls[0].r2, 20u);
    EXPECT_EQ(calls[0].r3, 40u);
    EXPECT_EQ(calls[0].s0, 30u) << "height on the stack";
    EXPECT_EQ(calls[0].s1, 0xF800u) << "colour on the stack";
    EXPECT_EQ(calls[1].address, stub(4, 9)) << "draw text";
    const std::vector<u8> text = cpu.read(calls[1].r0, 10);
    EXPECT_EQ(std::string(text.begin(), text.end()), std::string("SDK probe\0", 10));
    EXPECT_EQ(calls[1].r1, 8u);
    EXPECT_EQ(calls[1].r2, 100u);
    EXPECT_EQ(calls[1].r3, 0xFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Variants, PackedAppTest, ::testing::ValuesIn(probe_variants()), variant_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PackedAppTest);

}  // namespace
}  // namespace tarvel::sdk_test
