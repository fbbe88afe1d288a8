#include "memory/guest_memory.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tarvel::machine {
namespace {

// The layout the machine builds: code image, stack, RAM, system area, stubs.
GuestMemory standard_layout(bool big_endian = false) {
    GuestMemory memory(big_endian);
    memory.add_region(0x01000000, 0x3000);
    memory.add_region(0x02000000, 0x00100000);
    memory.add_region(0x05000000, 0x01000000);
    memory.add_region(0x0A000000, 0x00100000);
    memory.add_region(0x0C000000, 0x00100000);
    return memory;
}

TEST(GuestMemoryByteOrder, LittleAndBigEndianLayouts) {
    GuestMemory little = standard_layout(false);
    little.write32(0x05000000, 0x11223344);
    EXPECT_EQ(little.read8(0x05000000), 0x44);
    EXPECT_EQ(little.read16(0x05000002), 0x1122);

    GuestMemory big = standard_layout(true);
    big.write32(0x05000000, 0x11223344);
    EXPECT_EQ(big.read8(0x05000000), 0x11);
    EXPECT_EQ(big.read8(0x05000003), 0x44);
    EXPECT_EQ(big.read16(0x05000002), 0x3344);
    EXPECT_EQ(big.read32(0x05000000), 0x11223344u);
    big.write16(0x05000010, 0xABCD);
    EXPECT_EQ(big.read8(0x05000010), 0xAB);
    // Byte strings are never reordered.
    const std::vector<u8> text{1, 2, 3, 4};
    ASSERT_TRUE(big.write_bytes(0x05000020, text));
    EXPECT_EQ(big.read32(0x05000020), 0x01020304u);
    EXPECT_EQ(*big.read_bytes(0x05000020, 4), text);
    EXPECT_TRUE(big.unmapped_accesses().empty());
}

TEST(GuestMemoryUnmapped, StraddlesAndGapsReadZeroAndAreRecordedOnce) {
    GuestMemory memory = standard_layout();
    memory.write8(0x020FFFFE, 0xAA);
    memory.write8(0x020FFFFF, 0xBB);
    // Two bytes inside the stack region, two beyond it: unmapped as a whole.
    EXPECT_EQ(memory.read32(0x020FFFFE), 0u);
    EXPECT_EQ(memory.read16(0x020FFFFE), 0xBBAA);
    EXPECT_EQ(memory.read32(0x03000000), 0u);
    EXPECT_EQ(memory.read32(0x03000000), 0u);
    memory.write32(0xFFFFFFFE, 0x12345678);  // wraps past the top of the space
    EXPECT_EQ(memory.unmapped_accesses(), (std::set<u32>{0x020FFFFE, 0x03000000, 0xFFFFFFFE}));
}

TEST(GuestMemoryUnmapped, RegionsThatTouchStillRejectStraddles) {
    GuestMemory memory;
    memory.add_region(0x1000, 0x10);
    memory.add_region(0x1010, 0x10);
    memory.write32(0x100E, 0xFFFFFFFF);
    EXPECT_EQ(memory.read8(0x100E), 0);
    EXPECT_EQ(memory.read8(0x1010), 0);
    EXPECT_EQ(memory.unmapped_accesses(), std::set<u32>{0x100E});
    std::vector<u8> four(4, 7);
    EXPECT_FALSE(memory.write_bytes(0x100E, four));
    EXPECT_FALSE(memory.read_bytes(0x100C, 8).has_value());
    EXPECT_EQ(memory.unmapped_accesses(), (std::set<u32>{0x100C, 0x100E}));
}

TEST(GuestMemoryRegions, FirstRegionWinsEvenInsideFastPages) {
    // The later region covers whole pages, the earlier one only a few bytes of one
    // of them: accesses there must still go to the earlier region.
    GuestMemory memory;
    memory.add_region(0x00018000, 0x10);
    memory.add_region(0x00000000, 0x00040000);
    memory.write32(0x00018004, 0xCAFEF00D);
    EXPECT_EQ(memory.regions()[0].bytes[4], 0x0D);
    EXPECT_EQ(memory.regions()[1].bytes[0x18004], 0);
    // An access only partly inside the first region falls through to the second.
    memory.write32(0x0001800E, 0x01020304);
    EXPECT_EQ(memory.regions()[1].bytes[0x1800E], 0x04);
    EXPECT_EQ(memory.read32(0x0001800E), 0x01020304u);
    EXPECT_EQ(memory.find_region(0x00018000, 4), 0u);
    EXPECT_EQ(memory.find_region(0x00020000, 4), 1u);
    // Moved memories still know that their regions overlap (the region found
    // last is not the answer for an address the earlier one holds).
    GuestMemory moved(std::move(memory));
    EXPECT_EQ(moved.find_region(0x00020000, 4), 1u);
    EXPECT_EQ(moved.find_region(0x00018000, 4), 0u);
    memory = std::move(moved);
    EXPECT_EQ(memory.find_region(0x00020000, 4), 1u);
    EXPECT_EQ(memory.find_region(0x00018000, 4), 0u);
}

TEST(GuestMemoryRegions, ReadOnlyRegionStopsTheSearchForWrites) {
    GuestMemory memory;
    std::vector<u8> rom(0x20000, 0x5A);
    memory.add_region(0x00100000, rom, /*read_only=*/true);
    memory.add_region(0x00100000, 0x20000);  // writable shadow that is never reached
    memory.write32(0x00100000, 0);
    memory.write8(0x00110000, 1);
    EXPECT_EQ(memory.read32(0x00100000), 0x5A5A5A5Au);
    EXPECT_EQ(memory.regions()[1].bytes[0], 0);
    EXPECT_EQ(memory.regions()[1].bytes[0x10000], 0);
    EXPECT_EQ(memory.unmapped_accesses(), (std::set<u32>{0x00100000, 0x00110000}));
    u8 byte = 0;
    EXPECT_TRUE(memory.try_read8(0x00100001, byte));
    EXPECT_EQ(byte, 0x5A);
    EXPECT_FALSE(memory.try_write8(0x00100001, 0));
    EXPECT_FALSE(memory.is_writable(0x00100000, 1));
    EXPECT_TRUE(memory.is_readable(0x00100000, 0x20000));
}

TEST(GuestMemoryRegions, UnalignedRegionBaseUsesSlowPathCorrectly) {
    GuestMemory memory;
    memory.add_region(0x00012345, 0x30000);
    memory.write32(0x00012345, 0xDEADBEEF);
    memory.write32(0x0001FFFE, 0x44332211);  // crosses a page boundary (of 4 KiB and of 64 KiB)
    EXPECT_EQ(memory.read32(0x00012345), 0xDEADBEEFu);
    EXPECT_EQ(memory.read32(0x0001FFFE), 0x44332211u);
    EXPECT_EQ(memory.read8(0x00020000), 0x33);
    EXPECT_EQ(memory.read8(0x00012344), 0);
    EXPECT_EQ(memory.read8(0x00042345), 0);
    EXPECT_EQ(memory.unmapped_accesses(), (std::set<u32>{0x00012344, 0x00042345}));
}

TEST(GuestMemoryRegions, CopiesAreIndependent) {
    GuestMemory a = standard_layout();
    a.write32(0x05000000, 1);
    GuestMemory b = a;
    b.write32(0x05000000, 2);
    EXPECT_NE(a.layout_generation(), b.layout_generation());  // b's bytes live elsewhere
    EXPECT_EQ(a.read32(0x05000000), 1u);
    EXPECT_EQ(b.read32(0x05000000), 2u);
    a = b;
    EXPECT_EQ(a.read32(0x05000000), 2u);
    a.write32(0x05000000, 3);
    EXPECT_EQ(b.read32(0x05000000), 2u);
}

TEST(GuestMemoryRegions, MovedFromMemoryIsEmptyButUsable) {
    GuestMemory a = standard_layout();
    a.write32(0x05000000, 0x1234);
    const u64 layout = a.layout_generation();
    const u64 writes = a.host_write_count();
    GuestMemory b(std::move(a));
    EXPECT_EQ(b.read32(0x05000000), 0x1234u);
    EXPECT_EQ(b.layout_generation(), layout);  // the same bytes, so host pointers stay valid
    EXPECT_GT(b.host_write_count(), writes);   // never back to a count seen with that layout
    EXPECT_NE(a.layout_generation(), layout);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(a.regions().empty());  // NOLINT(bugprone-use-after-move): documented state
    EXPECT_EQ(a.read32(0x05000000), 0u);
    a = std::move(b);
    EXPECT_EQ(a.read32(0x05000000), 0x1234u);
    EXPECT_EQ(b.read8(0x05000000), 0);
}

TEST(GuestMemoryRegions, MemoriesGoneLeaveNothingMappedForTheNext) {
    // Page tables pass from memories that go away to new ones: however the old
    // memory ended (watching, with pages written or not), the new one must
    // see none of its pages.
    {
        std::vector<GuestMemory> gone;
        for (int i = 0; i < 4; ++i) {
            gone.push_back(standard_layout());
            if (i % 2 == 0) gone.back().watch_writes();
            if (i == 2) gone.back().write32(0x05000000, 1);
        }
    }
    std::vector<GuestMemory> fresh(10);
    for (GuestMemory& memory : fresh) {
        memory.watch_writes();
        for (u32 address : {0x01000000u, 0x02010000u, 0x05000000u, 0x05FF0000u, 0x0C000000u}) {
            EXPECT_EQ(memory.fast_read_span(address, 4), nullptr);
            EXPECT_EQ(memory.fast_write_span(address, 4), nullptr);
            memory.write32(address, 7);
            EXPECT_EQ(memory.read32(address), 0u);
        }
        EXPECT_TRUE(memory.written_pages().empty());
        EXPECT_EQ(memory.unmapped_accesses().size(), 5u);
    }
}

TEST(GuestMemoryUnmapped, RecordIsBoundedAndCountsOverflow) {
    GuestMemory memory;
    for (u32 i = 0; i < GuestMemory::kMaxUnmappedRecords + 10; ++i) memory.read8(0x40000000 + i);
    EXPECT_EQ(memory.unmapped_accesses().size(), GuestMemory::kMaxUnmappedRecords);
    EXPECT_EQ(memory.unmapped_overflow(), 10u);
    memory.read8(0x40000000);  // already recorded: not an overflow
    EXPECT_EQ(memory.unmapped_overflow(), 10u);
    // The ordered view holds the lowest addresses first, copies carry the record,
    // a cleared record forgets every address of the full table (each is new
    // again), and the top and bottom addresses are addresses like any other.
    GuestMemory copy = memory;
    EXPECT_EQ(*copy.unmapped_accesses().begin(), 0x40000000u);
    copy.clear_unmapped_accesses();
    EXPECT_TRUE(copy.unmapped_accesses().empty());
    copy.read8(0xFFFFFFFF);
    copy.read8(0xFFFFFFFF);
    copy.read8(0);
    copy.read8(0x40000000 + 77);
    EXPECT_EQ(copy.unmapped_accesses(), (std::set<u32>{0, 0x40000000 + 77, 0xFFFFFFFF}));
    EXPECT_EQ(copy.unmapped_overflow(), 0u);
    EXPECT_EQ(memory.unmapped_accesses().size(), GuestMemory::kMaxUnmappedRecords);
}

TEST(GuestMemoryWriteWatch, NotesEachWrittenPageOnceAndRearms) {
    GuestMemory memory = standard_layout();
    memory.watch_writes();
    memory.write32(0x05000010, 0x11223344);
    memory.write8(0x05000011, 0xAA);
    u8* span = memory.fast_write_span(0x02010000, 8);
    EXPECT_EQ(span, nullptr);  // held back until the page's first write
    memory.write16(0x02010000, 0x5566);
    EXPECT_NE(memory.fast_write_span(0x02010000, 8), nullptr);
    memory.write32(0x03000000, 1);  // unmapped: nothing to note
    constexpr unsigned kBits = GuestMemory::kPageBits;
    EXPECT_EQ(memory.written_pages(), (std::vector<u32>{0x05000000 >> kBits, 0x02010000 >> kBits}));
    EXPECT_EQ(memory.read32(0x05000010), 0x1122AA44u);
    EXPECT_EQ(memory.read16(0x02010000), 0x5566u);
    memory.watch_writes();
    EXPECT_TRUE(memory.written_pages().empty());
    memory.write8(0x05000000, 1);
    EXPECT_EQ(memory.written_pages(), std::vector<u32>{0x05000000 >> kBits});
    // New regions end the watch: every page is fast again.
    memory.add_region(0x30000000, 0x1000);
    EXPECT_NE(memory.fast_write_span(0x02010000, 8), nullptr);
    memory.write8(0x02010000, 1);
    EXPECT_TRUE(memory.written_pages().empty());
}

TEST(GuestMemoryViews, HostViewsFollowTheLookupRuleWithoutRecording) {
    GuestMemory memory = standard_layout();
    EXPECT_NE(memory.host_read_view(0x05000000, 0x01000000), nullptr);
    EXPECT_EQ(memory.host_read_view(0x05000000, 0x01000001), nullptr);
    EXPECT_EQ(memory.host_write_view(0x04FFFFFF, 2), nullptr);
    EXPECT_TRUE(memory.unmapped_accesses().empty());
    u8 buffer[4] = {};
    EXPECT_FALSE(memory.read_bytes_into(0x0A0FFFFE, buffer));
    EXPECT_EQ(memory.unmapped_accesses(), std::set<u32>{0x0A0FFFFE});
}

}  // namespace
}  // namespace tarvel::machine
