// The run loop executes every instruction of a decoded block but the last
// without looking at where it continues; blocks end at the first instruction
// that may go elsewhere. Every instruction the classification lets through
// must therefore continue at the next one, unless it raised an exception or
// changed state (which the loop sees as an event).

#include <gtest/gtest.h>

#include <random>

#include "armv4t/block_cache.hpp"
#include "cpu_test_support.hpp"

namespace tarvel::armv4t::testing {
namespace {

// Steps `inst` at kCode from a state whose registers point into data, and
// tells whether it went on to the next instruction without an event.
bool continues_at_next(TestMachine& m, u32 inst, bool thumb) {
    for (int n = 0; n < 13; ++n) m.r(n) = kData + 0x100 * static_cast<u32>(n);
    m.r(13) = kData + 0x2000;
    m.r(14) = kCode + 0x201;
    m.cpu.regs.set_cpsr(kModeSystem | (thumb ? kThumbBit : 0));
    if (thumb) {
        m.memory.write16(kCode, static_cast<u16>(inst));
        m.memory.write16(kCode + 2, 0);
    } else {
        m.memory.write32(kCode, inst);
    }
    m.r(15) = kCode;
    const u32 before = m.cpu.regs.cpsr();
    m.step();
    const bool event = ((before ^ m.cpu.regs.cpsr()) & (kThumbBit | kModeMask)) != 0;
    return event || m.r(15) == kCode + (thumb ? 2u : 4u);
}

TEST(BlockCache, OnlyTheLastInstructionOfABlockMayBranch) {
    test::LogCapture quiet{log::Level::Warn};  // coprocessor and mode complaints
    TestMachine m;
    for (u32 inst = 0; inst < 0x10000; ++inst) {
        if (thumb_may_branch(inst)) continue;
        ASSERT_TRUE(continues_at_next(m, inst, true)) << std::hex << "Thumb 0x" << inst;
    }
    std::mt19937 rng(20261209);
    for (int i = 0; i < 400000; ++i) {
        u32 inst = static_cast<u32>(rng());
        if (i & 1) inst = (inst & 0x0FFFFFFF) | 0xE0000000;  // mostly executed, not skipped
        if (arm_may_branch(inst)) continue;
        ASSERT_TRUE(continues_at_next(m, inst, false)) << std::hex << "ARM 0x" << inst;
    }
    // The classification still lets the ordinary instructions through.
    for (u32 inst : {0xE0811002u, 0xE4913004u, 0xE92D40BEu, 0xE59F0010u}) EXPECT_FALSE(arm_may_branch(inst));
    for (u32 inst : {0x1889u, 0x680Bu, 0xB53Eu, 0xF000u, 0x4641u}) EXPECT_FALSE(thumb_may_branch(inst));
}

}  // namespace
}  // namespace tarvel::armv4t::testing
