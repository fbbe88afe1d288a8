// Building a machine from an archive record and booting it on both
// registration paths.

#include <gtest/gtest.h>

#include "support/test_machine.hpp"
#include "machine/cpu_bridge.hpp"
#include "machine/test_app.hpp"

namespace tarvel::machine {
namespace {

using test::Layout;
using test::make_archive;
using test::make_machine;
using testing::Registration;
using testing::TestApp;
using test::ThumbProgram;

constexpr u64 kBudget = 100000;

TEST(BuildMachine, RegionsTablesAndData) {
    Layout layout;
    layout.init_data = {1, 2, 3, 4};
    TarvelMachine m = make_machine({0xC0, 0x46, 0xAA, 0xBB}, layout);
    const auto& regions = m.memory.regions();
    ASSERT_EQ(regions.size(), 5u);
    EXPECT_EQ(regions[0].base, kDefaultCodeBase);
    EXPECT_EQ(regions[0].size(), 0x3000u);  // data_offset + data_size, rounded to 4 KiB
    EXPECT_EQ(regions[1].base, kStackBase);
    EXPECT_EQ(regions[4].base, kTrapAreaBase);
    EXPECT_EQ(m.memory.read8(kDefaultCodeBase + 2), 0xAA);
    EXPECT_EQ(m.memory.read32(0x01002000), 0x04030201u);
    EXPECT_EQ(m.data_base, 0x01002000u);

    GuestMemory& mem = m.memory;
    EXPECT_EQ(mem.read32(0x0A000400), 0x0C000000u);
    EXPECT_EQ(mem.read32(0x0A000400 + 26 * 0x400 + 255 * 4), service_stub(26, 255));
    EXPECT_EQ(mem.read32(0x0A000400 + 27 * 0x400), 0u);  // group 27 has no prebuilt table
    EXPECT_EQ(mem.read32(0x0A000008), 0x0A000400u);
    EXPECT_EQ(mem.read32(0x0A00000C), 0x0C0FFFFCu);
    EXPECT_EQ(mem.read32(0x0A000010), 0x0A009000u);
    EXPECT_EQ(mem.read32(0x0A0E0000 + 4 * 10), service_stub(22, 10));
    EXPECT_EQ(mem.read32(0x0A0E0000 + 4 * 11), 0u);
    EXPECT_EQ(mem.read32(0x0A0E1400 + 4 * 39), service_stub(28, 39));
    EXPECT_EQ(mem.read32(0x0A0E0C00 + 4 * 19), service_stub(25, 19));
    EXPECT_EQ(mem.read32(0x05800408), kScreenBuffer);
    EXPECT_EQ(mem.read16(0x0580040C), 240);
    EXPECT_EQ(mem.read16(0x0580040E), 400);
    EXPECT_EQ(mem.read16(0x05800410), 240);
    EXPECT_EQ(mem.read32(0x0A00A000), 0u);  // no second table for a little-endian file

    EXPECT_EQ(m.run_state, RunState::Created);
    EXPECT_EQ(m.cpu.regs.cpsr(), 0xD3u);
    EXPECT_EQ(m.cpu.regs.bank(), 3u);
    EXPECT_EQ(m.heap.top, 0x05000000u);
    EXPECT_EQ(m.orientation, Orientation::Portrait);
    EXPECT_TRUE(m.memory.unmapped_accesses().empty());
    EXPECT_EQ(m.screen_bytes().size(), kScreenBufferBytes);
}

TEST(BuildMachine, SecondInterfaceTableForSeparatedBigEndianLayouts) {
    Layout layout;
    layout.big_endian = true;
    layout.load_address = 0x01000000;
    layout.data_address = 0x01002000;
    layout.data_offset = 0x2000;  // above the code length
    TarvelMachine m = make_machine({0x46, 0xC0}, layout);
    EXPECT_TRUE(m.big_endian());
    EXPECT_EQ(m.memory.read32(0x0A00A000), 0x0C00E000u);
    EXPECT_EQ(m.memory.read32(0x0A00A000 + 8 * 16), 0x0C00E040u);
    EXPECT_EQ(m.memory.read32(0x0A00A08C), 0x0C00E044u);
    EXPECT_EQ(m.memory.read32(0x0A000008), 0x0A00A000u);
    EXPECT_EQ(m.memory.read8(0x0A000400 + 3), 0x00);  // stubs stored big-endian
    EXPECT_EQ(m.memory.read8(0x0A000400), 0x0C);
}

// Where code or data cannot be placed the machine is refused; an empty data
// range at the very end of a region still fits.
TEST(BuildMachine, PlacementFailures) {
    Layout outside{.load_address = 0x01000000, .data_address = 0x03000000, .init_data = {1, 2, 3}};  // no region there
    Layout empty_outside = outside;
    empty_outside.init_data.clear();
    Layout empty_at_end = empty_outside;
    empty_at_end.data_address = kStackTop;
    Layout straddle{.data_size = 0x10};  // region 0x3000: data at 0x01002000..0x01002FFF
    straddle.init_data.assign(0x1001, 7);
    cbe::CbeArchive past_the_file = make_archive({0xC0, 0x46});
    past_the_file.executable.code_length = 100;  // a code segment beyond the end of the file
    struct Case {
        const char* name;
        cbe::CbeArchive archive;
        std::string error;  // empty: built; "?": refused, any message
        bool part = false;  // the error holds `error` among other words
    };
    const Case cases[] = {
        {"data outside every region", make_archive({0xC0, 0x46}, outside), "load address is not mapped"},
        {"code at the top", make_archive({0xC0, 0x46}, {.load_address = 0xFFFFF000, .data_offset = 0x2000}),
         "load address is not mapped"},
        {"huge data", make_archive({0xC0, 0x46}, {.data_size = 0xFFFFFF00}), "exceeds the limit", true},
        {"empty data outside", make_archive({0xC0, 0x46}, empty_outside), "load address is not mapped"},
        {"empty data at a region end", make_archive({0xC0, 0x46}, empty_at_end), ""},
        {"code past the file", past_the_file, "?"},
        {"data straddling the code region", make_archive({0xC0, 0x46}, straddle), "load address is not mapped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto built = build_machine(c.archive);
        ASSERT_EQ(built.ok(), c.error.empty());
        if (built.ok() || c.error == "?") continue;
        const std::string got = built.error().to_string();
        if (c.part) {
            EXPECT_NE(got.find(c.error), std::string::npos) << got;
        } else {
            EXPECT_EQ(got, c.error);
        }
    }
}

TEST(Boot, InitialRegisters) {
    ThumbProgram p(kDefaultCodeBase);
    p.idle_loop();
    TarvelMachine m = make_machine(p.finish());
    ASSERT_TRUE(boot(m, kBudget));
    // The idle loop stopped the initializer where it started.
    EXPECT_EQ(m.run_state, RunState::Stopped);
    const auto& regs = m.cpu.regs;
    EXPECT_EQ(regs.r[15], 0x01000000u);
    EXPECT_EQ(regs.r[9], 0x01002000u);
    EXPECT_EQ(regs.r[13], 0x02100000u);
    EXPECT_EQ(regs.r[14], 0x0F000001u);
    EXPECT_EQ(regs.r[0], 0x0A000000u);
    EXPECT_EQ(regs.cpsr(), 0x30u);
    EXPECT_EQ(regs.bank(), 0u);
}

TEST(Boot, RegisteredEntryRunsAndPushesTheScreen) {
    TestApp app(Registration::Registered);
    TarvelMachine m = make_machine(app.code);
    ASSERT_TRUE(boot(m, kBudget));
    EXPECT_EQ(m.run_state, RunState::Running);
    EXPECT_EQ(m.app_entry, app.at("entry"));
    EXPECT_EQ(m.app_second_word, app.at("second"));
    EXPECT_EQ(m.active_screen, kDefaultCodeBase + testing::kAppScreenOffset);
    EXPECT_EQ(m.screen_stack.size(), 1u);
    EXPECT_EQ(m.memory.read32(testing::kSecondCount), 0u);  // the second word is only stored
}

Layout native_layout() {
    Layout layout;
    layout.big_endian = true;
    layout.load_address = 0x01000000;
    layout.data_address = 0x01002000;
    layout.data_offset = 0x100;  // within the code: the native layout
    return layout;
}

TEST(Boot, NativeLayoutRegistersThroughTheSystemEntry) {
    TestApp app(Registration::Native, kDefaultCodeBase, true);
    TarvelMachine m = make_machine(app.code, native_layout());
    ASSERT_TRUE(boot(m, kBudget));
    EXPECT_EQ(m.run_state, RunState::Running);
    EXPECT_EQ(m.native_entry, app.at("entry"));
    EXPECT_EQ(m.app_entry, app.at("entry"));
    EXPECT_EQ(m.memory.read32(testing::kNativeBlock + 8), kSystemEntryThumb);
    EXPECT_EQ(m.active_screen, kDefaultCodeBase + testing::kAppScreenOffset);
    EXPECT_EQ(m.memory.read32(testing::kSecondCount), 1u);  // the second callback ran once
}

TEST(Boot, NativeLayoutHandsTheSystemEntryToTheInitializer) {
    ThumbProgram p(kDefaultCodeBase);
    p.idle_loop();
    std::vector<u8> code = p.finish(true);
    code.resize(0x200);  // the data offset 0x100 lies within the code
    TarvelMachine m = make_machine(code, native_layout());
    ASSERT_TRUE(boot(m, kBudget));
    EXPECT_EQ(m.run_state, RunState::Stopped);
    EXPECT_EQ(m.cpu.regs.r[0], kSystemEntryThumb);
    EXPECT_EQ(m.cpu.regs.r[9], 0x01002000u);  // the data address of the header
    EXPECT_EQ(m.memory.read32(0x0A000008), 0x0A000400u);  // no second table in this layout
}

// An initializer that registers nothing, or runs past its budget, faults the
// machine with the reason.
TEST(Boot, FailuresFaultTheMachineWithTheirReason) {
    ThumbProgram spin(kDefaultCodeBase);
    spin.label("spin");
    spin.movs(0, 1);
    spin.b_back("spin");
    struct Case {
        std::vector<u8> code;
        Layout layout;
        u64 budget;
        const char* error;
    };
    const Case cases[] = {
        {TestApp(Registration::None).code, {}, kBudget,
         "CBE initializer returned without registering an application entry"},
        {TestApp(Registration::NativeWithoutEntry, kDefaultCodeBase, true).code, native_layout(), kBudget,
         "CBE initializer returned without registering a native application entry"},
        {spin.finish(), {}, 1000, "CBE execution exceeded 1000 instructions at 0x01000002"},
    };
    for (const Case& c : cases) {
        TarvelMachine m = make_machine(c.code, c.layout);
        auto r = boot(m, c.budget);
        ASSERT_FALSE(r) << c.error;
        EXPECT_EQ(r.error().to_string(), c.error);
        EXPECT_EQ(m.run_state, RunState::Faulted);
    }
}

TEST(Boot, ExitDuringTheInitializerSucceedsStopped) {
    ThumbProgram p(kDefaultCodeBase);
    p.movs(0, 0x18);
    p.emit(0xDFAB);
    TarvelMachine m = make_machine(p.finish());
    ASSERT_TRUE(boot(m, kBudget));
    EXPECT_EQ(m.run_state, RunState::Stopped);
    EXPECT_TRUE(run_tick(m, kBudget));  // ticks of a stopped machine do nothing
}

}  // namespace
}  // namespace tarvel::machine
