// The windowed run loop: it must stop exactly where a supervisor stepping one
// instruction at a time would take over, and agree with step() everywhere else.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "common/log.hpp"
#include "cpu_test_support.hpp"

namespace tarvel::armv4t::testing {
namespace {

RunLimits whole_code(u64 steps) { return RunLimits{steps, 0x1000, 0x8000}; }

TEST(CpuRun, StopsAtTheStepLimitAndCountsSteps) {
    TestMachine m;
    m.arm({0xE2800001, 0xEAFFFFFD});  // loop: ADD r0, r0, #1; B loop
    std::vector<u32> pcs;
    const RunResult result = m.cpu.run(m.memory, whole_code(7), [&](u32 pc) { pcs.push_back(pc); });
    EXPECT_EQ(result.stop, RunStop::StepLimit);
    EXPECT_EQ(result.steps, 7u);
    EXPECT_EQ(m.r(0), 4u);
    EXPECT_EQ(pcs.size(), 7u);
    EXPECT_EQ(pcs[1], kCode + 4);
    EXPECT_EQ(m.cpu.run(m.memory, whole_code(0)).steps, 0u);
}

TEST(CpuRun, StopsWhenThePcLeavesTheWindowWithoutExecutingThere) {
    TestMachine m;
    m.arm({0xE3A0E00F, 0xE1A0F00E});  // MOV lr, #15; MOV pc, lr
    const RunResult result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::OutsideWindow);
    EXPECT_EQ(result.steps, 2u);
    EXPECT_EQ(m.r(15), 12u);  // aligned like a supervisor aligns it
    EXPECT_EQ(result.last_pc, 12u);
}

TEST(CpuRun, StopsBeforeIdleLoopsAndSoftwareInterrupts) {
    TestMachine m;
    m.arm({0xE3A00001, 0xEAFFFFFE});
    RunResult result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::BridgeInstruction);
    EXPECT_EQ(result.steps, 1u);
    EXPECT_EQ(m.r(15), kCode + 4);

    m.arm({0xE3A00001, 0xEF123456});
    result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::BridgeInstruction);
    EXPECT_EQ(m.r(15), kCode + 4);
    EXPECT_EQ(m.cpu.regs.mode(), kModeSystem);

    m.arm({0xFA000000});  // condition 0xF (BLX on later cores)
    result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::BridgeInstruction);
    EXPECT_EQ(result.steps, 0u);

    for (u16 special : {u16{0xE7FE}, u16{0xDFAB}, u16{0x4780}, u16{0x47C8}}) {
        m.thumb({0x2001, special});
        result = m.cpu.run(m.memory, whole_code(100));
        EXPECT_EQ(result.stop, RunStop::BridgeInstruction) << std::hex << special;
        EXPECT_EQ(m.r(15), kCode + 2) << std::hex << special;
    }
    // A long-branch prefix followed by a BLX suffix stops at the prefix; followed
    // by an ordinary suffix it runs.
    m.thumb({0xF000, 0xE800});
    result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::BridgeInstruction);
    EXPECT_EQ(result.steps, 0u);
    m.thumb({0xF000, 0xF802, 0, 0, 0xE7FE});
    result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.steps, 2u);
    EXPECT_EQ(m.r(15), kCode + 8);
}

TEST(CpuRun, UndefinedInstructionsEndTheRunAfterTheException) {
    TestMachine m;
    m.arm({0xE3A00001, 0xE7F000F0});
    const RunResult result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::Undefined);
    EXPECT_EQ(result.steps, 2u);
    EXPECT_EQ(result.last_pc, kCode + 4);
    EXPECT_EQ(m.cpu.regs.mode(), kModeUndefined);
}

TEST(CpuRun, FollowsStateChangesBetweenArmAndThumb) {
    TestMachine m;
    // ARM: ADD r1, pc, #1 -> Thumb code at kCode + 8; BX r1. Thumb: MOV r0, #42; idle.
    m.arm({0xE28F1001, 0xE12FFF11});
    m.memory.write16(kCode + 8, 0x202A);
    m.memory.write16(kCode + 10, 0xE7FE);
    const RunResult result = m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(result.stop, RunStop::BridgeInstruction);
    EXPECT_EQ(result.steps, 3u);
    EXPECT_EQ(m.r(0), 42u);
    EXPECT_TRUE(m.cpu.regs.thumb());
}

// Random code run both ways from the same state: the fast loop and single steps
// must produce the same registers and memory.
TEST(CpuRun, AgreesWithSingleSteppingOnRandomCode) {
    // Random code writes invalid modes and touches coprocessors: keep the log quiet.
    test::LogCapture quiet{log::Level::Warn};
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        TestMachine a;
        const bool thumb = round & 1;
        for (u32 i = 0; i < 64; ++i) a.memory.write32(kCode + 4 * i, static_cast<u32>(rng()));
        for (int n = 0; n < 15; ++n) a.r(n) = (rng() & 1) ? kData + (rng() & 0x3FFC) : static_cast<u32>(rng());
        a.cpu.regs.set_cpsr(kModeSystem | (thumb ? kThumbBit : 0) | (rng() & kFlagsMask));
        a.r(15) = kCode;
        TestMachine b = a;

        const RunLimits limits{50, kCode, kCode + 256};
        const RunResult result = a.cpu.run(a.memory, limits);
        // The same by single steps, stopping where run() stopped.
        for (u64 i = 0; i < result.steps; ++i) {
            b.r(15) &= b.cpu.regs.thumb() ? ~1u : ~3u;
            b.step();
        }
        b.r(15) &= b.cpu.regs.thumb() ? ~1u : ~3u;
        ASSERT_EQ(a.cpu.regs.slots(), b.cpu.regs.slots()) << "round " << round;
        ASSERT_TRUE(std::equal(a.memory.regions()[0].bytes.begin(), a.memory.regions()[0].bytes.end(),
                               b.memory.regions()[0].bytes.begin()))
            << "round " << round;
    }
}

}  // namespace
}  // namespace tarvel::armv4t::testing
