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

    for (u16 special : {u16{0xE7FE}, u16{0xDFAB}}) {
        m.thumb({0x2001, special});
        result = m.cpu.run(m.memory, whole_code(100));
        EXPECT_EQ(result.stop, RunStop::BridgeInstruction) << std::hex << special;
        EXPECT_EQ(m.r(15), kCode + 2) << std::hex << special;
    }
}

// The BLX forms of later cores are executed by the interpreter, in the run loop
// and in step() alike; each is one instruction that ends at an idle loop.
TEST(CpuRun, ExecutesTheBlxFormsItself) {
    struct Case {
        const char* name;
        bool thumb;
        std::vector<u32> code;  // words (ARM) or halfwords (Thumb) at kCode
        u32 target;             // where the idle loop is placed
        bool target_thumb;
        u32 lr;
        u64 steps;  // up to and excluding the idle loop
    };
    const Case cases[] = {
        // BLX #0x1A with H: to kCode + 8 + 0x18 + 2, Thumb.
        {"ARM BLX immediate", false, {0xFB000006}, kCode + 0x22, true, kCode + 4, 1},
        // LDR r4, [pc, #4] loads the word at kCode + 8; BLX r4.
        {"Thumb BLX r4", true, {0x4C01, 0x47A0, 0, 0, 0x1051, 0}, kCode + 0x50, true, kCode + 5, 2},
        // The should-be-zero bits do not matter: 0x47A7 is BLX r4 as well.
        {"Thumb BLX r4, bits 2..0 set", true, {0x4C01, 0x47A7, 0, 0, 0x1050, 0}, kCode + 0x50, false, kCode + 5, 2},
        // Prefix and BLX suffix: offset 0x3A from kCode + 4, word-aligned, ARM.
        {"Thumb BLX pair", true, {0xF000, 0xE800 | (0x3A >> 1)}, kCode + 0x3C, false, kCode + 5, 1},
    };
    for (const Case& c : cases) {
        for (const bool stepped : {false, true}) {
            TestMachine m;
            u32 address = kCode;
            for (u32 unit : c.code) {
                if (c.thumb) m.memory.write16(address, static_cast<u16>(unit));
                else m.memory.write32(address, unit);
                address += c.thumb ? 2 : 4;
            }
            if (c.target_thumb) m.memory.write16(c.target, 0xE7FE);
            else m.memory.write32(c.target, 0xEAFFFFFE);
            m.cpu.regs.set_cpsr(kModeSystem | (c.thumb ? kThumbBit : 0));
            m.r(15) = kCode;
            if (stepped) {
                for (u64 i = 0; i < c.steps; ++i) EXPECT_TRUE(m.step()) << c.name;
            } else {
                const RunResult result = m.cpu.run(m.memory, whole_code(100));
                EXPECT_EQ(result.stop, RunStop::BridgeInstruction) << c.name;
                EXPECT_EQ(result.steps, c.steps) << c.name;
            }
            EXPECT_EQ(m.r(15), c.target) << c.name << (stepped ? " stepped" : " run");
            EXPECT_EQ(m.cpu.regs.thumb(), c.target_thumb) << c.name;
            EXPECT_EQ(m.r(14), c.lr) << c.name;
        }
    }
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

// Straight-line code runs on across the blocks it is decoded into.
TEST(CpuRun, RunsStraightLineCodeLongerThanABlock) {
    for (const bool thumb : {false, true}) {
        TestMachine m;
        const u32 size = thumb ? 2 : 4;
        for (u32 i = 0; i < 40; ++i) {
            if (thumb) m.memory.write16(kCode + i * size, 0x3001);  // ADDS r0, #1
            else m.memory.write32(kCode + i * size, 0xE2800001);     // ADD r0, r0, #1
        }
        if (thumb) m.memory.write16(kCode + 40 * size, 0xE7FE);
        else m.memory.write32(kCode + 40 * size, 0xEAFFFFFE);
        m.cpu.regs.set_cpsr(kModeSystem | (thumb ? kThumbBit : 0));
        const RunResult result = m.cpu.run(m.memory, whole_code(100));
        EXPECT_EQ(result.stop, RunStop::BridgeInstruction) << thumb;
        EXPECT_EQ(result.steps, 40u) << thumb;
        EXPECT_EQ(m.r(0), 40u) << thumb;
    }
}

// The run loop executes decoded copies of the code: whatever changes the code
// between runs, or a store into the very stretch being run, must be seen.
TEST(CpuRun, ExecutesCodeAsItIsNow) {
    TestMachine m;
    // STR r1, [r2]; MOV r0, #0; MOV r0, #1 (replaced by the store with r1); idle.
    m.arm({0xE5821000, 0xE3A00000, 0xE3A00001, 0xEAFFFFFE});
    m.r(1) = 0xE3A00002;  // MOV r0, #2
    m.r(2) = kCode + 8;
    EXPECT_EQ(m.cpu.run(m.memory, whole_code(100)).stop, RunStop::BridgeInstruction);
    EXPECT_EQ(m.r(0), 2u);

    // STRH r1, [r2]; MOVS r0, #0; MOVS r0, #1 (replaced by MOVS r0, #3); idle.
    m.thumb({0x8011, 0x2000, 0x2001, 0xE7FE});
    m.r(1) = 0x2003;
    m.r(2) = kCode + 4;
    EXPECT_EQ(m.cpu.run(m.memory, whole_code(100)).stop, RunStop::BridgeInstruction);
    EXPECT_EQ(m.r(0), 3u);

    // The same code run again after the host rewrote one instruction in place
    // (as a service or a restored state does): the new one runs.
    for (u16 value : {u16{0x2004}, u16{0x2005}}) {
        m.memory.write16(kCode + 4, value);
        m.r(15) = kCode + 2;
        m.cpu.run(m.memory, whole_code(100));
        EXPECT_EQ(m.r(0), value & 0xFFu);
    }
    // A store that step() executes between runs, and a write through a span
    // kept from before the last run (as the frontend's memory map writes),
    // reported with note_outside_writes(): the next run sees what they wrote.
    m.r(1) = 0x2009;
    m.r(2) = kCode + 4;
    m.r(15) = kCode;
    ASSERT_TRUE(m.cpu.step(m.memory));
    m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(m.r(0), 9u);
    const std::span<u8> kept = m.memory.region_bytes(0);
    m.r(15) = kCode + 2;
    m.cpu.run(m.memory, whole_code(100));
    kept[kCode + 4] = 0x0A;  // MOVS r0, #10
    m.memory.note_outside_writes();
    m.r(15) = kCode + 2;
    m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(m.r(0), 10u);
    // Other memory under the same addresses (a copy, then moved in, as a
    // restored machine brings): the code is read where it lives now.
    machine::GuestMemory copy = m.memory;
    for (u16 value : {u16{0x2006}, u16{0x2007}}) {
        copy.write16(kCode + 4, value);
        m.r(15) = kCode + 2;
        m.cpu.run(copy, whole_code(100));
        EXPECT_EQ(m.r(0), value & 0xFFu);
    }
    m.memory = std::move(copy);
    m.memory.write16(kCode + 4, 0x2008);
    m.r(15) = kCode + 2;
    m.cpu.run(m.memory, whole_code(100));
    EXPECT_EQ(m.r(0), 8u);
}

// Random code run both ways from the same state: the fast loop and single steps
// must produce the same registers and memory. In some rounds the registers
// point into the code, so that stores rewrite code as it runs; in some the
// trace is on, which takes the loop that decodes every instruction.
TEST(CpuRun, AgreesWithSingleSteppingOnRandomCode) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        // Random code writes invalid modes and touches coprocessors: keep the log quiet.
        test::LogCapture quiet{round % 8 == 5 ? log::Level::Trace : log::Level::Warn};
        TestMachine a;
        const bool thumb = round & 1;
        const bool into_code = round & 2;
        for (u32 i = 0; i < 64; ++i) a.memory.write32(kCode + 4 * i, static_cast<u32>(rng()));
        for (int n = 0; n < 15; ++n) {
            const u32 pointer = into_code ? kCode + (rng() & 0xFC) : kData + (rng() & 0x3FFC);
            a.r(n) = (rng() & 1) ? pointer : static_cast<u32>(rng());
        }
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
