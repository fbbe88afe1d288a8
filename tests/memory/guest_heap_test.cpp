#include "memory/guest_heap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.hpp"

namespace tarvel::machine {
namespace {

struct HeapTest : ::testing::Test {
    test::LogCapture log{log::Level::Warn};
    GuestHeap heap;
};

TEST_F(HeapTest, ZeroSizeAndRoundingToEightBytes) {
    EXPECT_EQ(heap.allocate(0), 0u);
    EXPECT_EQ(heap.top, GuestHeap::kBase);
    EXPECT_TRUE(heap.allocations.empty());
    EXPECT_EQ(heap.allocate(1), 0x05000000u);
    EXPECT_EQ(heap.allocate(1), 0x05000008u);
    EXPECT_EQ(heap.allocate(9), 0x05000010u);
    EXPECT_EQ(heap.block_size(0x05000010), 16u);
    EXPECT_EQ(heap.top, 0x05000020u);
}

TEST_F(HeapTest, FirstFitSplitsABlockAndKeepsTheRemainderInPlace) {
    const u32 a = heap.allocate(16);
    const u32 b = heap.allocate(16);
    heap.free(a);
    EXPECT_EQ(heap.allocate(8), a);
    EXPECT_EQ(heap.free_blocks, (std::vector<FreeBlock>{{a + 8, 8}}));
    EXPECT_EQ(heap.allocate(8), a + 8);
    EXPECT_TRUE(heap.free_blocks.empty());
    EXPECT_EQ(heap.allocations.size(), 3u);
    EXPECT_EQ(heap.block_size(b), 16u);
}

TEST_F(HeapTest, AdjacentFreesMergeInEitherOrder) {
    for (int order = 0; order < 2; ++order) {
        GuestHeap h;
        const u32 a = h.allocate(24);
        const u32 b = h.allocate(40);
        const u32 c = h.allocate(8);
        if (order == 0) {
            h.free(a);
            h.free(b);
        } else {
            h.free(b);
            h.free(a);
        }
        EXPECT_EQ(h.free_blocks, (std::vector<FreeBlock>{{a, 64}})) << order;
        // Freeing the last block joins all three; the bump pointer stays put.
        h.free(c);
        EXPECT_EQ(h.free_blocks, (std::vector<FreeBlock>{{a, 72}}));
        EXPECT_EQ(h.top, a + 72);
        EXPECT_EQ(h.allocate(72), a);
    }
}

TEST_F(HeapTest, UnknownAndDoubleFreesAreIgnored) {
    const u32 a = heap.allocate(8);
    heap.free(a + 4);
    heap.free(0);
    EXPECT_TRUE(heap.free_blocks.empty());
    heap.free(a);
    heap.free(a);
    EXPECT_EQ(heap.free_blocks.size(), 1u);
}

TEST_F(HeapTest, ExhaustionWarnsWithTheRequestedSize) {
    // Leave 16 bytes of bump space and a smaller block on the free list.
    const u32 big = heap.allocate(GuestHeap::kLimit - GuestHeap::kBase - 32);
    const u32 small = heap.allocate(8);
    heap.allocate(8);
    heap.free(small);
    EXPECT_EQ(heap.allocate(17), 0u);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "tarvel_core::machine|CBE heap exhausted while allocating 17 bytes");
    EXPECT_EQ(log.entries()[0].level, log::Level::Warn);
    // A block may end exactly at the limit.
    EXPECT_EQ(heap.allocate(16), GuestHeap::kLimit - 16);
    EXPECT_EQ(heap.top, GuestHeap::kLimit);
    EXPECT_EQ(big, GuestHeap::kBase);
    // Huge requests saturate instead of wrapping around to a small size.
    EXPECT_EQ(heap.allocate(0xFFFFFFFF), 0u);
    EXPECT_EQ(heap.allocate(0xFFFFFFF9), 0u);
    EXPECT_EQ(heap.allocate(8), small);
}

}  // namespace
}  // namespace tarvel::machine
