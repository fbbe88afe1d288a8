// The in-memory filesystem on its own: paths, open modes, handles, the
// read/write/seek arithmetic, delete and rename with open handles, directory
// names, and the bounds that keep a guest from exhausting the host.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "machine/virtual_fs.hpp"
#include "support/log_capture.hpp"

namespace tarvel::machine {
namespace {

std::vector<u8> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<u8> read_all(VirtualFs& fs, u32 handle, u32 count = 1000) {
    auto view = fs.read(handle, count);
    return view ? std::vector<u8>(view->begin(), view->end()) : std::vector<u8>{};
}

u32 open_ok(VirtualFs& fs, std::string_view path, std::string_view mode) {
    const std::optional<u32> handle = fs.open(std::string(path), mode);
    EXPECT_TRUE(handle.has_value()) << path << " " << mode;
    return handle.value_or(99);
}

TEST(PathNormalisation, SeparatorsDotsAndCase) {
    EXPECT_EQ(normalize_path("\\Save\\.\\A\\..\\Slot1.DAT"), "save/slot1.dat");
    EXPECT_EQ(normalize_path("A\\B.txt"), normalize_path("a/b.TXT"));
    EXPECT_EQ(normalize_path("//a///b/"), "a/b");
    EXPECT_EQ(normalize_path(""), "");
    EXPECT_EQ(normalize_path("/./"), "");
    EXPECT_EQ(normalize_path("a/.."), "");
    // Only ASCII letters fold; other text is kept as it is.
    EXPECT_EQ(normalize_path("Ä/游戏.SAV"), "Ä/游戏.sav");
}

TEST(PathNormalisation, ClimbingAboveTheRootOrTooLongIsInvalid) {
    test::LogCapture log;
    EXPECT_EQ(normalize_path("../b.txt"), std::nullopt);
    EXPECT_EQ(normalize_path("a/../../b"), std::nullopt);
    EXPECT_EQ(normalize_path(std::string(kMaxPathBytes, 'x')), std::string(kMaxPathBytes, 'x'));
    EXPECT_EQ(normalize_path(std::string(kMaxPathBytes + 1, 'x')), std::nullopt);
    EXPECT_EQ(log.count(log::Level::Warn, fmt::format("file path of {} bytes is longer than the {} allowed",
                                                      kMaxPathBytes + 1, kMaxPathBytes)),
              1u);
    // Length counts after normalisation.
    EXPECT_EQ(normalize_path(std::string(kMaxPathBytes, '/') + "a"), "a");
}

TEST(OpenModes, FlagsAndModeText) {
    EXPECT_EQ(mode_from_flags(1), "w");
    EXPECT_EQ(mode_from_flags(3), "r+");
    EXPECT_EQ(mode_from_flags(0x18), "a+");
    EXPECT_EQ(mode_from_flags(0x0C), "w+");
    EXPECT_EQ(mode_from_flags(0x04), "r+");
    EXPECT_EQ(mode_from_flags(0), "r");
    EXPECT_EQ(mode_from_flags(2), "r");

    auto rights = [](std::string_view mode) {
        const OpenMode m = parse_mode(mode);
        return std::pair(m.readable, m.writable);
    };
    EXPECT_EQ(rights("r"), std::pair(true, false));
    EXPECT_EQ(rights("rb+"), std::pair(true, true));
    EXPECT_EQ(rights("w"), std::pair(false, true));
    EXPECT_EQ(rights("a+"), std::pair(true, true));
    EXPECT_EQ(rights("x"), std::pair(false, false));
    EXPECT_EQ(rights("x+"), std::pair(true, true));
}

TEST(VirtualFs, StartsEmptyWithTheRoot) {
    VirtualFs fs;
    EXPECT_TRUE(fs.files.empty());
    EXPECT_EQ(fs.directories, std::set<std::string>{""});
    EXPECT_EQ(fs.open_handle_count(), 0u);
    EXPECT_TRUE(fs.is_directory(""));
}

TEST(VirtualFs, SeventeenthOpenFailsAndTheLowestFreedSlotIsReused) {
    VirtualFs fs;
    for (u32 i = 0; i < kFileHandleCount; ++i) EXPECT_EQ(fs.open("f" + std::to_string(i), "w"), i);
    EXPECT_EQ(fs.open("extra", "w"), std::nullopt);
    EXPECT_FALSE(fs.exists("extra")) << "a refused open creates nothing";
    ASSERT_TRUE(fs.write(3, bytes("keep")));
    EXPECT_EQ(fs.open("f3", "w"), std::nullopt);
    EXPECT_EQ(fs.files.at("f3"), bytes("keep")) << "a refused open truncates nothing";

    EXPECT_TRUE(fs.close(9));
    EXPECT_TRUE(fs.close(4));
    EXPECT_FALSE(fs.close(4)) << "already free";
    EXPECT_FALSE(fs.close(16));
    EXPECT_FALSE(fs.close(0xFFFFFFFF));
    EXPECT_EQ(fs.open("again", "w"), 4u);
    EXPECT_EQ(fs.open("again2", "w"), 9u);
}

TEST(VirtualFs, OpenCreatesTruncatesOrRefusesByMode) {
    VirtualFs fs;
    EXPECT_EQ(fs.open("missing", "r"), std::nullopt);
    EXPECT_EQ(fs.open("missing", "r+"), std::nullopt);
    EXPECT_FALSE(fs.exists("missing"));

    // Neither "r", "w" nor "a", and no "+": a handle that does nothing, no file.
    const u32 inert = open_ok(fs, "missing", "q");
    EXPECT_FALSE(fs.exists("missing"));
    EXPECT_EQ(fs.read(inert, 1), std::nullopt);
    EXPECT_FALSE(fs.write(inert, bytes("x")));

    fs.files["save.dat"] = bytes("old contents");
    fs.stored_bytes = 12;
    const u32 append = open_ok(fs, "save.dat", "a");
    EXPECT_EQ(fs.tell(append), 12u);
    EXPECT_EQ(fs.read(append, 1), std::nullopt) << "\"a\" does not read";
    ASSERT_TRUE(fs.write(append, bytes("!")));
    EXPECT_EQ(fs.files.at("save.dat"), bytes("old contents!"));

    const u32 update = open_ok(fs, "save.dat", "r+");
    EXPECT_EQ(read_all(fs, update, 3), bytes("old"));
    ASSERT_TRUE(fs.write(update, bytes("OLD")));
    EXPECT_EQ(fs.files.at("save.dat"), bytes("oldOLDntents!"));

    open_ok(fs, "save.dat", "w");
    EXPECT_TRUE(fs.files.at("save.dat").empty());
    EXPECT_EQ(fs.stored_bytes, 0u);
    // "a+" creates when absent, starting at 0.
    const u32 fresh = open_ok(fs, "new.dat", "a+");
    EXPECT_TRUE(fs.exists("new.dat"));
    EXPECT_EQ(fs.tell(fresh), 0u);
}

TEST(VirtualFs, WriteBeyondTheEndZeroFillsTheGap) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "f", "w+");
    ASSERT_EQ(fs.seek(h, 10, 0), 10u);
    ASSERT_TRUE(fs.write(h, bytes("abcd")));
    std::vector<u8> expected(10, 0);
    expected.insert(expected.end(), {'a', 'b', 'c', 'd'});
    EXPECT_EQ(fs.files.at("f"), expected);
    EXPECT_EQ(fs.size(h), 14u);
    EXPECT_EQ(fs.tell(h), 14u);
    EXPECT_EQ(fs.stored_bytes, 14u);
    // Even a zero-byte write past the end fills the gap.
    ASSERT_EQ(fs.seek(h, 100, 2), 114u);
    EXPECT_TRUE(fs.write(h, {}));
    EXPECT_EQ(fs.size(h), 114u);
}

TEST(VirtualFs, ReadsStopAtTheEnd) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "f", "w+");
    ASSERT_TRUE(fs.write(h, bytes("hello")));
    ASSERT_EQ(fs.seek(h, 0, 0), 0u);
    EXPECT_EQ(read_all(fs, h, 3), bytes("hel"));
    EXPECT_EQ(read_all(fs, h, 10), bytes("lo"));
    EXPECT_EQ(fs.tell(h), 5u);
    ASSERT_TRUE(fs.read(h, 10).has_value());
    EXPECT_EQ(fs.read(h, 10)->size(), 0u);
    EXPECT_EQ(fs.read(h, kMaxTransferBytes + 1), std::nullopt);
    EXPECT_EQ(fs.read(h, kMaxTransferBytes)->size(), 0u);
}

TEST(VirtualFs, SeekBoundsLeaveThePositionAlone) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "f", "w+");
    ASSERT_TRUE(fs.write(h, bytes("0123456789")));
    ASSERT_EQ(fs.seek(h, 4, 0), 4u);
    EXPECT_EQ(fs.seek(h, -1, 0), std::nullopt);
    EXPECT_EQ(fs.tell(h), 4u);
    EXPECT_EQ(fs.seek(h, -5, 1), std::nullopt);
    EXPECT_EQ(fs.seek(h, -3, 2), 7u);
    EXPECT_EQ(fs.seek(h, 2, 1), 9u);
    EXPECT_EQ(fs.seek(h, 0, 3), std::nullopt) << "unknown origin";
    EXPECT_EQ(fs.tell(h), 9u);
    // 100 past the end: allowed, and reading there gives nothing.
    EXPECT_EQ(fs.seek(h, 100, 2), 110u);
    EXPECT_EQ(fs.read(h, 4)->size(), 0u);
    // The 32-bit position limit, from the current position.
    ASSERT_EQ(fs.seek(h, 0x7FFFFFFF, 0), 0x7FFFFFFFu);
    EXPECT_EQ(fs.seek(h, 0x7FFFFFFF, 1), 0xFFFFFFFEu);
    EXPECT_EQ(fs.seek(h, 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(fs.seek(h, 1, 1), std::nullopt);
    EXPECT_EQ(fs.tell(h), 0xFFFFFFFFu);
    EXPECT_EQ(fs.seek(7, 0, 0), std::nullopt) << "free handle";
}

TEST(VirtualFs, WritesThatCannotFitFailWithoutChangingAnything) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "f", "w");
    // position + count past 32 bits
    ASSERT_TRUE(fs.seek(h, 0x7FFFFFFF, 0));
    ASSERT_TRUE(fs.seek(h, 0x7FFFFFFF, 1));
    EXPECT_EQ(fs.reserve_write(h, 2), std::nullopt);
    // A gap the storage bound does not allow (a host allocation of gigabytes otherwise).
    EXPECT_EQ(fs.reserve_write(h, 1), std::nullopt);
    EXPECT_TRUE(fs.files.at("f").empty());
    EXPECT_EQ(fs.tell(h), 0xFFFFFFFEu);
    EXPECT_EQ(fs.stored_bytes, 0u);
    EXPECT_EQ(fs.reserve_write(h, kMaxTransferBytes + 1), std::nullopt);
}

TEST(VirtualFs, AllFilesTogetherStayWithinTheStorageBound) {
    test::LogCapture log;
    VirtualFs fs;
    const u32 a = open_ok(fs, "a", "w");
    const u32 b = open_ok(fs, "b", "w");
    for (u32 i = 0; i < kMaxStoredBytes / kMaxTransferBytes - 1; ++i) ASSERT_TRUE(fs.reserve_write(a, kMaxTransferBytes));
    ASSERT_TRUE(fs.reserve_write(b, kMaxTransferBytes - 1));
    EXPECT_EQ(fs.stored_bytes, kMaxStoredBytes - 1);
    EXPECT_TRUE(fs.reserve_write(b, 1));
    EXPECT_FALSE(fs.reserve_write(b, 1));
    EXPECT_TRUE(log.contains(log::Level::Warn, fmt::format("cannot grow file b to {} bytes: files may hold {} bytes in all",
                                                           kMaxTransferBytes + 1, kMaxStoredBytes)));
    // Overwriting inside a file needs no room.
    ASSERT_EQ(fs.seek(b, 0, 0), 0u);
    EXPECT_TRUE(fs.reserve_write(b, 100));
    // Deleting and truncating give the room back.
    EXPECT_TRUE(fs.remove("b"));
    EXPECT_EQ(fs.stored_bytes, kMaxStoredBytes - kMaxTransferBytes);
    open_ok(fs, "a", "w");
    EXPECT_EQ(fs.stored_bytes, 0u);
}

TEST(VirtualFs, FileAndDirectoryCountsAreBounded) {
    test::LogCapture log;
    VirtualFs fs;
    for (u32 i = 0; i < kMaxFiles; ++i) {
        const u32 h = open_ok(fs, "f" + std::to_string(i), "w");
        fs.close(h);
    }
    EXPECT_EQ(fs.open("one_more", "a"), std::nullopt);
    EXPECT_EQ(fs.open("one_more", "w"), std::nullopt);
    EXPECT_EQ(log.count(log::Level::Warn,
                        fmt::format("cannot create file one_more: the filesystem holds {} files already", kMaxFiles)),
              2u);
    EXPECT_EQ(fs.open_handle_count(), 0u);
    EXPECT_TRUE(fs.open("f0", "w").has_value()) << "existing files can still be opened";

    EXPECT_TRUE(fs.make_directory("d/" + std::to_string(0)));
    for (u32 i = 1; i < kMaxDirectories - 1; ++i) ASSERT_TRUE(fs.make_directory("d/" + std::to_string(i)));
    EXPECT_EQ(fs.directories.size(), kMaxDirectories + 1);
    EXPECT_FALSE(fs.make_directory("e"));
    EXPECT_TRUE(log.contains(log::Level::Warn, fmt::format("cannot make directory e: the filesystem holds {} "
                                                           "directories already",
                                                           kMaxDirectories)));
    EXPECT_TRUE(fs.make_directory("d/7")) << "already there";
}

TEST(VirtualFs, DirectoriesAreNamesAndFilePrefixes) {
    VirtualFs fs;
    open_ok(fs, "save/x.dat", "w");
    EXPECT_TRUE(fs.is_directory("save"));
    EXPECT_FALSE(fs.is_directory("sav"));
    EXPECT_FALSE(fs.is_directory("save/x.dat"));
    EXPECT_TRUE(fs.make_directory("a/b/c"));
    EXPECT_EQ(fs.directories, (std::set<std::string>{"", "a", "a/b", "a/b/c"}));
    EXPECT_TRUE(fs.is_directory("a/b"));
    // Making the root adds nothing.
    EXPECT_TRUE(fs.make_directory(""));
    EXPECT_EQ(fs.directories.size(), 4u);
}

TEST(VirtualFs, DeletedFilesFailThroughOpenHandles) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "f", "w+");
    ASSERT_TRUE(fs.write(h, bytes("data")));
    EXPECT_TRUE(fs.remove("f"));
    EXPECT_FALSE(fs.remove("f"));
    EXPECT_EQ(fs.read(h, 1), std::nullopt);
    EXPECT_FALSE(fs.write(h, bytes("x")));
    EXPECT_EQ(fs.size(h), std::nullopt);
    EXPECT_EQ(fs.seek(h, 0, 2), std::nullopt);
    EXPECT_EQ(fs.seek(h, 1, 0), 1u) << "seeking from the start needs no file";
    EXPECT_EQ(fs.tell(h), 1u);
    EXPECT_EQ(fs.stored_bytes, 0u);
    EXPECT_TRUE(fs.close(h));
}

TEST(VirtualFs, RenameMovesContentsAndOpenHandles) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "old.dat", "w+");
    ASSERT_TRUE(fs.write(h, bytes("saved")));
    const u32 target = open_ok(fs, "new.dat", "w+");
    ASSERT_TRUE(fs.write(target, bytes("replaced")));

    EXPECT_TRUE(fs.rename("old.dat", "new.dat"));
    EXPECT_FALSE(fs.exists("old.dat"));
    EXPECT_EQ(fs.files.at("new.dat"), bytes("saved"));
    EXPECT_EQ(fs.stored_bytes, 5u);
    EXPECT_EQ(fs.handle(h)->path, "new.dat");
    ASSERT_EQ(fs.seek(h, 0, 0), 0u);
    EXPECT_EQ(read_all(fs, h), bytes("saved"));

    EXPECT_FALSE(fs.rename("old.dat", "x"));
    EXPECT_TRUE(fs.rename("new.dat", "new.dat"));
    EXPECT_EQ(fs.files.at("new.dat"), bytes("saved"));
}

// What a save keeps moves the change counter; handles, positions and reads
// (not kept) do not, and neither do refused or empty operations.
TEST(VirtualFs, OnlyChangesToWhatIsKeptAreCounted) {
    VirtualFs fs;
    const u32 h = open_ok(fs, "a", "w+");
    const u8 three[] = {1, 2, 3};
    struct Step {
        const char* what;
        std::function<void()> run;
        bool counts;
    };
    const Step steps[] = {
        {"write", [&] { fs.write(h, three); }, true},
        {"read and seek", [&] { fs.seek(h, 0, 0); fs.read(h, 3); fs.tell(h); fs.size(h); }, false},
        {"empty write inside", [&] { fs.write(h, {}); }, false},
        {"empty write past the end", [&] { fs.seek(h, 10, 0); fs.write(h, {}); }, true},
        {"open to read, close", [&] { fs.close(*fs.open("a", "r")); }, false},
        {"refused open", [&] { fs.open("missing", "r"); }, false},
        {"make directory", [&] { fs.make_directory("d/e"); }, true},
        {"existing directory", [&] { fs.make_directory("d"); }, false},
        {"rename", [&] { fs.rename("a", "b"); }, true},
        {"rename onto itself", [&] { fs.rename("b", "b"); }, false},
        {"truncate", [&] { fs.close(*fs.open("b", "w")); }, true},
        {"delete", [&] { fs.remove("b"); }, true},
        {"delete nothing", [&] { fs.remove("b"); }, false},
    };
    for (const Step& step : steps) {
        const u64 before = fs.changes;
        step.run();
        EXPECT_EQ(fs.changes != before, step.counts) << step.what;
    }
}

}  // namespace
}  // namespace tarvel::machine
