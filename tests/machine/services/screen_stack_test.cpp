// The screen stack service (group 14).

#include <gtest/gtest.h>

#include "support/test_machine.hpp"
#include "machine/services/dispatch.hpp"

namespace tarvel::machine {
namespace {

constexpr u32 A = 0x05000100, B = 0x05000200, C = 0x05000300;

u32 call(TarvelMachine& m, u32 index, u32 r0) { return test::call(m, 14, index, r0); }

TEST(ScreenStack, PushAndRemoveTheTopReturnsToTheScreenBelow) {
    TarvelMachine m = test::blank_machine();
    m.memory.write32(kScreenSystemWord, 0x99);
    EXPECT_EQ(call(m, 4, A), 0u);
    EXPECT_EQ(m.memory.read32(kScreenSystemWord), 0u);
    EXPECT_EQ(call(m, 5, B), 0u);
    EXPECT_EQ(m.active_screen, B);
    m.current_screen = B;
    m.screen_initialized = true;
    EXPECT_EQ(call(m, 6, B), 1u);
    EXPECT_EQ(m.screen_stack, std::vector<u32>{A});
    EXPECT_EQ(m.active_screen, A);
    EXPECT_EQ(m.current_screen, A);
    EXPECT_FALSE(m.screen_initialized);
}

TEST(ScreenStack, RemovingAScreenBelowChangesNothingElse) {
    TarvelMachine m = test::blank_machine();
    call(m, 4, A);
    call(m, 4, B);
    m.current_screen = B;
    m.screen_initialized = true;
    EXPECT_EQ(call(m, 6, A), 1u);
    EXPECT_EQ(m.screen_stack, std::vector<u32>{B});
    EXPECT_EQ(m.active_screen, B);
    EXPECT_EQ(m.current_screen, B);
    EXPECT_TRUE(m.screen_initialized);
    EXPECT_EQ(call(m, 6, C), 0u);
    EXPECT_EQ(m.screen_stack, std::vector<u32>{B});
}

TEST(ScreenStack, RemoveTakesTheTopmostDuplicate) {
    TarvelMachine m = test::blank_machine();
    call(m, 4, A);
    call(m, 4, B);
    call(m, 4, A);
    call(m, 4, C);
    m.current_screen = C;
    EXPECT_EQ(call(m, 6, A), 1u);
    EXPECT_EQ(m.screen_stack, (std::vector<u32>{A, B, C}));
    EXPECT_EQ(call(m, 6, C), 1u);  // active and current: both become the new top
    EXPECT_EQ(m.active_screen, B);
    EXPECT_EQ(m.current_screen, B);
    call(m, 6, B);
    call(m, 6, A);
    EXPECT_TRUE(m.screen_stack.empty());
    EXPECT_EQ(m.active_screen, 0u);
    EXPECT_EQ(m.current_screen, 0u);
}

TEST(ScreenStack, ReplaceTop) {
    TarvelMachine m = test::blank_machine();
    EXPECT_EQ(call(m, 0, 0), kScreenSystemWord);
    EXPECT_TRUE(m.screen_stack.empty());
    m.memory.write32(kScreenSystemWord, 5);
    EXPECT_EQ(call(m, 2, A), kScreenSystemWord);  // empty stack: appended
    EXPECT_EQ(m.screen_stack, std::vector<u32>{A});
    EXPECT_EQ(m.memory.read32(kScreenSystemWord), 0u);
    call(m, 4, B);
    EXPECT_EQ(call(m, 3, C), kScreenSystemWord);
    EXPECT_EQ(m.screen_stack, (std::vector<u32>{A, C}));
    EXPECT_EQ(m.active_screen, C);
}

TEST(ScreenStack, LoadRequestsAndQueries) {
    TarvelMachine m = test::blank_machine();
    call(m, 4, A);
    call(m, 4, B);
    EXPECT_EQ(call(m, 1, 0), 0u);
    EXPECT_TRUE(m.pending_load);
    EXPECT_EQ(m.pending_load_screen, B);
    EXPECT_EQ(call(m, 8, A), 0u);
    EXPECT_EQ(m.pending_load_screen, A);
    EXPECT_EQ(call(m, 9, B), 1u);
    EXPECT_EQ(call(m, 9, A), 0u);
    EXPECT_EQ(call(m, 10, A), 1u);
    EXPECT_EQ(call(m, 10, B), 0u);
    EXPECT_EQ(call(m, 11, A), 0u);
    call(m, 6, A);
    call(m, 6, B);
    EXPECT_EQ(call(m, 9, 0), 0u);  // empty stack
    EXPECT_EQ(call(m, 10, 0), 0u);
}

TEST(ScreenStack, EndlessPushesKeepABoundedStack) {
    TarvelMachine m = test::blank_machine();
    call(m, 4, A);
    for (u32 i = 0; i < 5000; ++i) call(m, 4, B + i * 4);
    EXPECT_EQ(m.screen_stack.size(), 4096u);
    EXPECT_EQ(m.screen_stack.back(), B + 4999 * 4);
    EXPECT_EQ(m.active_screen, B + 4999 * 4);
    EXPECT_EQ(call(m, 6, A), 0u);  // the bottom made room long ago
}

}  // namespace
}  // namespace tarvel::machine
