// The step loop of the CPU bridge: return sentinel, idle loop, semihosting, the
// branches it performs itself, fetch and undefined faults, and the budget, with
// the bookkeeping (instruction count, last pc, recent pcs) that must come out
// the same whether code runs in long stretches or one pass at a time.

#include "machine/cpu_bridge.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/test_machine.hpp"

namespace tarvel::machine {
namespace {

using test::blank_machine;
using test::enter_thumb;
using test::make_machine;
using test::ThumbProgram;

constexpr u32 kCode = kDefaultCodeBase;

std::vector<u32> recent_pcs(const TarvelMachine& m) { return m.recent_pcs.to_vector(); }

class ScopedTraceVariable {
public:
    explicit ScopedTraceVariable(const char* value) {
        if (value) setenv(kTraceName, value, 1);
        else unsetenv(kTraceName);
    }
    ~ScopedTraceVariable() { unsetenv(kTraceName); }

private:
    static constexpr const char* kTraceName = "CBE_TRACE";
};

TEST(CallGuest, NullFunctionTouchesNothing) {
    TarvelMachine m = blank_machine();
    m.cpu.regs.r[0] = 11;
    m.cpu.regs.r[15] = 0x1234;
    const u32 cpsr = m.cpu.regs.cpsr();
    ASSERT_TRUE(call_guest(m, 0, 1, 2, 3, 100));
    EXPECT_EQ(m.cpu.regs.r[0], 11u);
    EXPECT_EQ(m.cpu.regs.r[15], 0x1234u);
    EXPECT_EQ(m.cpu.regs.cpsr(), cpsr);
    EXPECT_EQ(m.instruction_count, 0u);
    EXPECT_TRUE(m.recent_pcs.empty());
}

TEST(CallGuest, ImmediateReturnTakesOneStepAndLeavesTheResult) {
    ThumbProgram p(kCode);
    p.movs(0, 42);  // replaced below: the function starts at the BX
    p.label("f");
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, p.address("f"), 7, 8, 9, 100));
    EXPECT_EQ(m.instruction_count, 1u);
    EXPECT_EQ(m.cpu.regs.r[0], 7u);
    EXPECT_EQ(m.cpu.regs.r[15], kReturnSentinel);
    EXPECT_EQ(recent_pcs(m), (std::vector<u32>{kCode + 2, kReturnSentinel}));
    EXPECT_EQ(m.last_pc, kReturnSentinel);
}

TEST(RunGuest, ThumbIdleLoopStopsTheGuestAndStaysStopped) {
    ThumbProgram p(kCode);
    p.movs(0, 1);
    p.idle_loop();
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
    EXPECT_EQ(m.run_state, RunState::Stopped);
    EXPECT_EQ(m.cpu.regs.r[15], kCode + 2);
    EXPECT_EQ(m.instruction_count, 1u);
    ASSERT_TRUE(run_guest(m, 100));
    EXPECT_EQ(m.cpu.regs.r[15], kCode + 2);
    EXPECT_EQ(m.instruction_count, 1u);
}

TEST(RunGuest, ArmIdleLoopStops) {
    std::vector<u8> code(8);
    store_le32(code.data(), 0xE3A00005);      // MOV r0, #5
    store_le32(code.data() + 4, 0xEAFFFFFE);  // B .
    TarvelMachine m = make_machine(code);
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, kCode, 0, 0, 0, 100));
    EXPECT_EQ(m.run_state, RunState::Stopped);
    EXPECT_EQ(m.cpu.regs.r[0], 5u);
}

TEST(RunGuest, BudgetFailsOnTheLastPermittedStepNamingItsPc) {
    ThumbProgram p(kCode);
    p.movs(0, 1);
    p.movs(1, 2);
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    auto one = call_guest(m, kCode | 1, 0, 0, 0, 1);
    ASSERT_FALSE(one);
    EXPECT_EQ(one.error().to_string(), "CBE execution exceeded 1 instructions at 0x01000000");
    EXPECT_EQ(m.run_state, RunState::Faulted);
    EXPECT_EQ(m.instruction_count, 1u);

    // Three instructions and the sentinel pass fit in a budget of 4 but not 3.
    m.run_state = RunState::Running;
    EXPECT_FALSE(call_guest(m, kCode | 1, 0, 0, 0, 3));
    m.run_state = RunState::Running;
    EXPECT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 4));
    EXPECT_EQ(m.run_state, RunState::Running);
}

TEST(RunGuest, ZeroBudgetFailsBeforeAnyStep) {
    TarvelMachine m = blank_machine();
    m.last_pc = 0x01000004;
    auto r = run_guest(m, 0);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "CBE execution exceeded 0 instructions at 0x01000004");
    EXPECT_EQ(m.run_state, RunState::Faulted);
    EXPECT_EQ(m.instruction_count, 0u);
    EXPECT_TRUE(m.recent_pcs.empty());
}

// A loop of four instructions run with every budget from 1 to 80: the count,
// the last pc and the ring of recent pcs must match the per-instruction rule
// exactly, wherever the budget cuts the run.
TEST(RunGuest, SpinningGuestMatchesThePerStepBookkeepingForEveryBudget) {
    ThumbProgram p(kCode);
    p.movs(0, 0);
    p.label("loop");
    p.adds(0, 1);
    p.movs(1, 3);
    p.subs(1, 1);
    p.b_back("loop");
    const std::vector<u8> code = p.finish();
    for (u64 budget = 1; budget <= 80; ++budget) {
        TarvelMachine m = make_machine(code);
        m.cpu.regs.set_cpsr(0x10);
        std::vector<u32> expected;
        expected.push_back(kCode);
        while (expected.size() < budget) expected.push_back(kCode + 2 + ((expected.size() - 1) % 4) * 2);
        auto r = call_guest(m, kCode | 1, 0, 0, 0, budget);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().to_string(),
                  fmt::format("CBE execution exceeded {} instructions at 0x{:08x}", budget, expected.back()));
        EXPECT_EQ(m.instruction_count, budget);
        EXPECT_EQ(m.last_pc, expected.back());
        const size_t keep = std::min<size_t>(expected.size(), 32);
        EXPECT_EQ(recent_pcs(m), std::vector<u32>(expected.end() - keep, expected.end())) << "budget " << budget;
        EXPECT_EQ(m.cpu.regs.r[0], (budget + 2) / 4) << "budget " << budget;
    }
}

TEST(RunGuest, UnmappedFetchFaults) {
    TarvelMachine m = blank_machine();
    m.cpu.regs.set_cpsr(0x10);
    auto r = call_guest(m, 0x03000001, 0, 0, 0, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "instruction fetch from unmapped address 0x03000000");
    EXPECT_EQ(m.run_state, RunState::Faulted);
    EXPECT_EQ(m.instruction_count, 0u);
    EXPECT_EQ(m.memory.unmapped_accesses().count(0x03000000), 1u);
}

TEST(RunGuest, RunningOffTheEndOfTheCodeRegionFaultsAtTheFirstUnmappedPc) {
    // The last halfword of the RAM region holds a NOP; the next fetch is unmapped.
    TarvelMachine m = blank_machine();
    const u32 last = kRamBase + kRamSize - 2;
    m.memory.write16(last, 0x46C0);
    enter_thumb(m, last);
    auto r = run_guest(m, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "instruction fetch from unmapped address 0x06000000");
    EXPECT_EQ(m.instruction_count, 1u);
}

TEST(RunGuest, UndefinedInstructionFaultsWithoutCountingIt) {
    ThumbProgram p(kCode);
    p.movs(0, 1);
    p.emit(0xDE00);  // permanently undefined
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    auto r = call_guest(m, kCode | 1, 0, 0, 0, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "unsupported ARM instruction at 0x01000002");
    EXPECT_EQ(m.run_state, RunState::Faulted);
    EXPECT_EQ(m.instruction_count, 1u);
    EXPECT_EQ(recent_pcs(m), (std::vector<u32>{kCode, kCode + 2}));
}

TEST(RunGuest, UndefinedInstructionRightAfterAServiceReturn) {
    // The instruction after a trap runs on the per-instruction pass or in a
    // stretch; either way the fault and the count agree.
    ThumbProgram p(kCode);
    p.call_service(28, 30);
    p.emit(0xDE00);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    auto r = call_guest(m, kCode | 1, 0, 0, 0, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "unsupported ARM instruction at 0x01000004");
    EXPECT_EQ(m.instruction_count, 3u);  // LDR, BLX, the trap pass
    EXPECT_EQ(m.cpu.regs.r[0], 1u);
}

TEST(Semihosting, ExitStopsTheGuestPastTheCall) {
    ThumbProgram p(kCode);
    p.movs(0, 0x18);
    p.ldr_const(1, 0x20026);
    p.emit(0xDFAB);
    p.movs(2, 1);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
    EXPECT_EQ(m.run_state, RunState::Stopped);
    EXPECT_EQ(m.cpu.regs.r[15], kCode + 4 + 4);  // the exit moves past the call by four
    EXPECT_EQ(m.cpu.regs.r[2], 0u);
}

TEST(Semihosting, WriteStringAndCharacterGoToStandardErrorOnlyWhenTracing) {
    ThumbProgram p(kCode);
    p.movs(0, 4);
    p.ldr_const(1, 0x05000000);
    p.emit(0xDFAB);
    p.movs(0, 3);
    p.ldr_const(1, 0x05000010);
    p.emit(0xDFAB);
    p.bx(14);
    const std::vector<u8> code = p.finish();
    for (const char* trace : {static_cast<const char*>(nullptr), "0"}) {
        ScopedTraceVariable scoped(trace);
        TarvelMachine m = make_machine(code);
        const std::string text = "caf\xC3\xA9 \xFF!";
        m.memory.write_bytes(0x05000000, std::span(reinterpret_cast<const u8*>(text.data()), text.size() + 1));
        m.memory.write8(0x05000010, 'Z');
        m.cpu.regs.set_cpsr(0x10);
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, trace ? "caf\xC3\xA9 \xEF\xBF\xBD!Z" : "");
        EXPECT_EQ(m.run_state, RunState::Created);
    }
}

TEST(Semihosting, UnknownReasonFailsWithoutChangingTheRunState) {
    std::vector<u8> code(8);
    store_le32(code.data(), 0xE3A00007);      // MOV r0, #7
    store_le32(code.data() + 4, 0xEF123456);  // SWI 0x123456
    TarvelMachine m = make_machine(code);
    m.run_state = RunState::Running;
    m.cpu.regs.set_cpsr(0x10);
    auto r = call_guest(m, kCode, 0, 0, 0, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "unhandled semihosting call reason=7 at 0x01000004");
    EXPECT_EQ(m.run_state, RunState::Running);
}

TEST(BridgeBranches, ThumbBlxRegisterIntoArmAndBack) {
    // Thumb caller at kCode, ARM callee at kCode + 0x100.
    ThumbProgram p(kCode);
    p.push_lr();
    p.ldr_const(3, kCode + 0x100);
    p.blx(3);
    p.adds(0, 1);
    p.pop_pc();
    std::vector<u8> code = p.finish();
    code.resize(0x108);
    store_le32(code.data() + 0x100, 0xE3A00029);  // MOV r0, #41
    store_le32(code.data() + 0x104, 0xE12FFF1E);  // BX lr
    TarvelMachine m = make_machine(code);
    m.cpu.regs.set_cpsr(0x10);
    m.cpu.regs.r[13] = kStackTop;
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
    EXPECT_EQ(m.cpu.regs.r[0], 42u);
}

TEST(BridgeBranches, ThumbBlxThroughTheLinkRegisterBranchesToItsOldValue) {
    // BLX lr: the target is read before the link is written, as on the processor.
    ThumbProgram p(kCode);
    p.ldr_label(6, "f");
    p.mov(14, 6);
    p.blx(14);  // to f, lr = here + 2 (Thumb)
    p.movs(0, 5);
    p.ldr_const(1, kReturnAddress);
    p.bx(1);
    p.label("f");
    p.movs(2, 7);
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
    EXPECT_EQ(m.cpu.regs.r[2], 7u);  // f ran
    EXPECT_EQ(m.cpu.regs.r[0], 5u);  // and returned behind the BLX
    EXPECT_EQ(m.instruction_count, 8u);  // LDR, MOV, BLX; MOVS, BX in f; MOVS, LDR, BX
}

TEST(BridgeBranches, ArmBlxImmediateIntoThumbWithTheHalfwordBit) {
    std::vector<u8> code(0x40);
    // At kCode: BLX to kCode + 0x22 (Thumb): offset = 0x22 - 8 = 0x1A -> imm24 = 6, H = 1.
    store_le32(code.data(), 0xFB000006);
    store_le32(code.data() + 4, 0xE1A0F00A);  // MOV pc, r10 (return through r10)
    store_le16(code.data() + 0x22, 0x2063);   // MOVS r0, #0x63
    store_le16(code.data() + 0x24, 0x4770);   // BX lr
    TarvelMachine m = make_machine(code);
    m.cpu.regs.set_cpsr(0x10);
    m.cpu.regs.r[10] = kReturnAddress & ~1u;
    ASSERT_TRUE(call_guest(m, kCode, 0, 0, 0, 100));
    EXPECT_EQ(m.cpu.regs.r[0], 0x63u);
    EXPECT_EQ(m.cpu.regs.r[14], kCode + 4);  // the link to the ARM caller
    EXPECT_FALSE(m.cpu.regs.thumb());
}

TEST(BridgeBranches, ThumbLongBlxIntoArm) {
    ThumbProgram p(kCode);
    p.push_lr();
    // BL prefix + BLX suffix at kCode + 2 to kCode + 0x40 (ARM): offset from pc + 4 is 0x3A.
    p.emit(0xF000);
    p.emit(static_cast<u16>(0xE800 | (0x3A >> 1)));
    p.adds(0, 1);
    p.pop_pc();
    std::vector<u8> code = p.finish();
    code.resize(0x48);
    store_le32(code.data() + 0x40, 0xE3A00010);  // MOV r0, #16
    store_le32(code.data() + 0x44, 0xE12FFF1E);  // BX lr
    TarvelMachine m = make_machine(code);
    m.cpu.regs.set_cpsr(0x10);
    m.cpu.regs.r[13] = kStackTop;
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
    EXPECT_EQ(m.cpu.regs.r[0], 17u);
}

TEST(BridgeBranches, ThumbAddPcJumpsOverATable) {
    ThumbProgram p(kCode);
    p.movs(2, 4);
    p.emit(0x4497);  // ADD pc, r2: to kCode + 2 + 4 + 4
    p.movs(0, 1);    // skipped
    p.movs(0, 2);    // skipped
    p.movs(0, 3);    // skipped
    p.movs(0, 9);
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 100));
    EXPECT_EQ(m.cpu.regs.r[0], 9u);
}

TEST(BridgeBranches, NonSemihostingSoftwareInterruptGoesToTheInterpreter) {
    // The exception vector at 0x00000008 is unmapped: the fetch there faults.
    ThumbProgram p(kCode);
    p.swi(0x11);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    auto r = call_guest(m, kCode | 1, 0, 0, 0, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "instruction fetch from unmapped address 0x00000008");
}

TEST(BridgeBookkeeping, RecentPcRingKeepsTheLastThirtyTwo) {
    ThumbProgram p(kCode);
    for (int i = 0; i < 40; ++i) p.movs(0, static_cast<u32>(i));
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    ASSERT_TRUE(call_guest(m, kCode | 1, 0, 0, 0, 1000));
    EXPECT_EQ(m.instruction_count, 41u);
    const std::vector<u32> pcs = recent_pcs(m);
    ASSERT_EQ(pcs.size(), 32u);
    EXPECT_EQ(pcs.back(), kReturnSentinel);
    EXPECT_EQ(pcs.front(), kCode + 2 * 10);  // 42 passes, the first ten dropped
}

}  // namespace
}  // namespace tarvel::machine
