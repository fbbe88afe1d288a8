// Group 5 as the guest sees it: arguments from registers and guest memory,
// narrow, GBK and wide paths, results in r0, bad guest pointers, and the
// trace line.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/stderr_capture.hpp"
#include "memory/guest_strings.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::services::testing {
namespace {

using test::bytes_of;
using test::call;
using test::guest_cstring;
using test::make_machine;
using test::put_string;

constexpr u32 kFail = 0xFFFFFFFF;

class FileService : public ::testing::TestWithParam<bool> {
protected:
    FileService()
        : m(make_machine({.big_endian = GetParam(), .resources = {cbe_writer::resource("a.bin", bytes_of("x"))}})) {}

    u32 file(u32 index, u32 r0 = 0, u32 r1 = 0, u32 r2 = 0) {
        auto& r = m.cpu.regs.r;
        r[0] = r0;
        r[1] = r1;
        r[2] = r2;
        dispatch_service(m, 5, index);
        return r[0];
    }
    u32 text(std::string_view s) { return put_string(m, s); }
    // A zero-terminated UTF-16 string in guest byte order.
    u32 wide(std::u16string_view s) {
        const u32 block = m.heap.allocate(static_cast<u32>(s.size() * 2 + 2));
        for (size_t i = 0; i <= s.size(); ++i)
            m.memory.write16(block + static_cast<u32>(2 * i), i < s.size() ? s[i] : 0);
        return block;
    }
    u32 open(std::string_view path, std::string_view mode, u32 flags = 0) {
        return file(0, flags, text(path), text(mode));
    }
    u32 buffer(std::string_view contents) { return put_string(m, contents); }

    TarvelMachine m;
};

INSTANTIATE_TEST_SUITE_P(ByteOrders, FileService, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "big_endian" : "little_endian"; });

TEST_P(FileService, WriteThenReadBackThroughGuestMemory) {
    const u32 h = open("\\Save\\.\\A\\..\\Slot1.DAT", "w+");
    ASSERT_EQ(h, 0u);
    EXPECT_EQ(file(5, buffer("score:42"), 8, h), 8u);
    EXPECT_EQ(m.file_system.files.at("save/slot1.dat"), bytes_of("score:42"));
    EXPECT_EQ(file(7, h), 8u);
    EXPECT_EQ(file(8, h), 8u);
    EXPECT_EQ(file(6, h, static_cast<u32>(-2), 2), 6u);
    const u32 out = m.heap.allocate(16);
    EXPECT_EQ(file(4, out, 16, h), 2u);
    EXPECT_EQ(guest_cstring(m, out), "42");
    EXPECT_EQ(file(4, out, 16, h), 0u) << "at the end";
    EXPECT_EQ(file(1, h), 0u);
    EXPECT_EQ(file(1, h), kFail);
    EXPECT_EQ(file(7, h), kFail);
    EXPECT_EQ(file(8, h), kFail);

    EXPECT_EQ(file(2, 0, text("save/SLOT1.dat")), 1u);
    EXPECT_EQ(file(2, 0, text("save/slot2.dat")), 0u);
    EXPECT_EQ(file(3, 0, text("SAVE")), 1u);
    EXPECT_EQ(file(3, 0, text("sav")), 0u);
    EXPECT_EQ(file(3, 0, text("")), 1u);
}

TEST_P(FileService, EmptyModeComesFromTheFlags) {
    const u32 h = open("best.dat", "w");
    ASSERT_EQ(file(5, buffer("1234"), 4, h), 4u);
    file(1, h);
    // Flags 1 with an empty mode is "w": the file is truncated.
    const u32 again = open("best.dat", "", 1);
    ASSERT_NE(again, kFail);
    EXPECT_TRUE(m.file_system.files.at("best.dat").empty());
    EXPECT_EQ(file(4, m.heap.allocate(4), 4, again), kFail) << "\"w\" does not read";
    // Flags 0x10: "a+".
    ASSERT_EQ(file(5, buffer("ab"), 2, again), 2u);
    const u32 append = open("best.dat", "", 0x10);
    EXPECT_EQ(file(7, append), 2u);
    // A path that names no file with an empty mode and no flags: "r", refused.
    EXPECT_EQ(open("other.dat", ""), kFail);
    EXPECT_FALSE(m.file_system.exists("other.dat"));
}

TEST_P(FileService, HandleExhaustionAndBadHandles) {
    for (u32 i = 0; i < 16; ++i) ASSERT_EQ(open("f" + std::to_string(i), "w"), i);
    EXPECT_EQ(open("f16", "w"), kFail);
    EXPECT_EQ(file(1, 5), 0u);
    EXPECT_EQ(open("f16", "w"), 5u);
    for (u32 bad : {16u, 0xFFFFFFFFu, 0x80000000u}) {
        EXPECT_EQ(file(1, bad), kFail);
        EXPECT_EQ(file(4, m.heap.allocate(4), 1, bad), kFail);
        EXPECT_EQ(file(5, buffer("x"), 1, bad), kFail);
        EXPECT_EQ(file(6, bad, 0, 0), kFail);
        EXPECT_EQ(file(7, bad), kFail);
        EXPECT_EQ(file(8, bad), kFail);
    }
}

TEST_P(FileService, NarrowGbkAndWidePathsNameTheSameFile) {
    // 存档 in GBK, then the same name as UTF-16 in guest byte order.
    const std::vector<u8> gbk = encode_gbk("存档/A.sav");
    const u32 h = file(0, 0, put_string(m, gbk), text("w"));
    ASSERT_NE(h, kFail);
    EXPECT_TRUE(m.file_system.exists("存档/a.sav"));
    // The same name in UTF-16 is read as wide when its second byte is zero,
    // which a leading ASCII character gives in little-endian order only.
    EXPECT_EQ(file(2, 0, wide(u"\\存档\\A.SAV")), GetParam() ? 0u : 1u);
    // An ASCII path in UTF-16 is told apart by its zero second byte, which
    // only little-endian order gives; in big-endian order that byte is the
    // letter, so the string reads as narrow and ends at once (the root).
    const u32 hx = file(0, 0, wide(u"X.DAT"), text("w"));
    ASSERT_NE(hx, kFail);
    EXPECT_EQ(m.file_system.exists("x.dat"), !GetParam());
    EXPECT_EQ(m.file_system.exists(""), GetParam());
}

TEST_P(FileService, InvalidPathsFailAsTabled) {
    const u32 climbing = text("../b.txt");
    EXPECT_EQ(file(0, 0, climbing, text("w")), kFail);
    EXPECT_EQ(file(2, 0, climbing), 0u);
    EXPECT_EQ(file(3, 0, climbing), 0u);
    EXPECT_EQ(file(9, 0, climbing), 0u);
    EXPECT_EQ(file(11, 0, climbing), kFail);
    EXPECT_EQ(m.file_system.directories.size(), 1u);
    ASSERT_NE(open("a.txt", "w"), kFail);
    EXPECT_EQ(file(10, 0, text("a.txt"), climbing), 0u);
    EXPECT_EQ(file(10, 0, climbing, text("a.txt")), 0u);
    EXPECT_TRUE(m.file_system.exists("a.txt"));
}

TEST_P(FileService, BadGuestPointersNeverReachTheHost) {
    // Null and unbacked path pointers are invalid paths, not the root.
    for (u32 bad : {0u, 0x00001000u, 0xFFFFFFFFu, 0x03000000u}) {
        EXPECT_EQ(file(0, 1, bad, text("w")), kFail);
        EXPECT_EQ(file(3, 0, bad), 0u);
        EXPECT_EQ(file(11, 0, bad), kFail);
    }
    EXPECT_TRUE(m.file_system.files.empty());
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(0x03000000));

    const u32 h = open("f.dat", "w+");
    // A source straddling the end of the stack region: its readable bytes land,
    // the rest reads as 0, the count stands.
    const u32 stack_end = kStackTop - 2;
    m.memory.write8(stack_end, 'A');
    m.memory.write8(stack_end + 1, 'B');
    EXPECT_EQ(file(5, stack_end, 4, h), 4u);
    EXPECT_EQ(m.file_system.files.at("f.dat"), (std::vector<u8>{'A', 'B', 0, 0}));
    EXPECT_EQ(file(5, 0xFFFFFFF0u, 0x20, h), 0x20u) << "wrapping source";
    EXPECT_EQ(file(8, h), 0x24u);
    // A destination outside guest memory: nothing written, the count stands.
    file(6, h, 0, 0);
    EXPECT_EQ(file(4, 0x03000000, 4, h), 4u);
    EXPECT_EQ(file(4, 0xFFFFFFFE, 8, h), 8u);
    EXPECT_EQ(file(7, h), 12u);
    // Counts beyond the per-call limit fail before touching memory.
    EXPECT_EQ(file(4, 0x05000000, 0x01000001, h), kFail);
    EXPECT_EQ(file(5, 0x05000000, 0x01000001, h), kFail);
    EXPECT_EQ(file(8, h), 0x24u);
}

TEST_P(FileService, DeleteRenameAndDirectories) {
    const u32 h = open("old.dat", "w+");
    ASSERT_EQ(file(5, buffer("kept"), 4, h), 4u);
    EXPECT_EQ(file(10, 0, text("OLD.DAT"), text("dir/New.dat")), 1u);
    EXPECT_EQ(file(3, 0, text("dir")), 1u);
    file(6, h, 0, 0);
    const u32 out = m.heap.allocate(8);
    EXPECT_EQ(file(4, out, 8, h), 4u) << "the handle follows the rename";
    EXPECT_EQ(guest_cstring(m, out).substr(0, 4), "kept");
    EXPECT_EQ(file(9, 0, text("dir/new.dat")), 1u);
    EXPECT_EQ(file(9, 0, text("dir/new.dat")), 0u);
    EXPECT_EQ(file(8, h), kFail);
    EXPECT_EQ(file(10, 0, text("dir/new.dat"), text("x")), 0u);

    EXPECT_EQ(file(11, 0, text("A/B/C")), 0u);
    EXPECT_TRUE(m.file_system.directories.contains("a/b"));
}

// The free space is what can still be kept, so a game that trusts it never
// writes a save that is refused.
TEST_P(FileService, FreeSpaceIsWhatCanStillBeStored) {
    EXPECT_EQ(file(16), kMaxStoredBytes);
    const u32 handle = *m.file_system.open("a", "w");
    ASSERT_TRUE(m.file_system.reserve_write(handle, 1000));
    EXPECT_EQ(file(16), kMaxStoredBytes - 1000);
    ASSERT_TRUE(m.file_system.reserve_write(handle, kMaxStoredBytes - 1000));
    EXPECT_EQ(file(16), 0u);
}

TEST_P(FileService, FixedAnswers) {
    EXPECT_EQ(file(13), kFail);
    EXPECT_EQ(file(14), kFail);
    EXPECT_EQ(file(17), 1u);
    for (u32 index : {12u, 15u, 18u, 23u, 255u}) EXPECT_EQ(file(index, 7, 7, 7), 0u) << index;
}

TEST(FileServiceTrace, PrintsTheCallBeforeActing) {
    TarvelMachine m = make_machine({.resources = {cbe_writer::resource("a.bin", bytes_of("x"))}});
    const u32 path = put_string(m, "Save\\A.dat");
    const u32 mode = put_string(m, "w");
    ::setenv("CBE_TRACE", "5:0", 1);
    test::StderrCapture capture;
    call(m, handler_for_group(5), 0, 3, path, mode);
    call(m, handler_for_group(5), 7, 0);
    const std::string out = capture.finish();
    ::unsetenv("CBE_TRACE");
    EXPECT_EQ(out, "file service index=0 r0=3 r1=" + std::to_string(path) + " r2=" + std::to_string(mode) +
                       " path=Save\\A.dat extra=w\n");
    EXPECT_TRUE(m.file_system.exists("save/a.dat"));
}

TEST(FileServiceMachine, AFreshMachineStartsEmpty) {
    TarvelMachine m = make_machine({.resources = {cbe_writer::resource("a.bin", bytes_of("x"))}});
    EXPECT_TRUE(m.file_system.files.empty());
    EXPECT_EQ(m.file_system.directories, std::set<std::string>{""});
    EXPECT_EQ(m.file_system.open_handle_count(), 0u);
}

}  // namespace
}  // namespace tarvel::machine::services::testing
