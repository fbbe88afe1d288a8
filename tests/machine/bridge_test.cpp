// The step loop of the CPU bridge: return sentinel, idle loop, semihosting, the
// branches it performs itself, fetch and undefined faults, and the budget, with
// the bookkeeping (instruction count, last pc, recent pcs) that must come out
// the same whether code runs in long stretches or one pass at a time.

#include "machine/cpu_bridge.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "support/test_machine.hpp"

namespace tarvel::machine {
namespace {

using test::blank_machine;
using test::enter_thumb;
using test::make_machine;
using test::ThumbProgram;

constexpr u32 kCode = kDefaultCodeBase;

std::vector<u32> recent_pcs(const TarvelMachine& m) { return m.recent_pcs.to_vector(); }

// Calls the guest function at `entry` (bit 0 set: Thumb) from User mode with a
// stack, and r10 holding the return address for ARM code that returns through it.
Status run_function(TarvelMachine& m, u32 entry, u64 budget = 100) {
    m.cpu.regs.set_cpsr(0x10);
    m.cpu.regs.r[13] = kStackTop;
    m.cpu.regs.r[10] = kReturnAddress & ~1u;
    return call_guest(m, entry, 0, 0, 0, budget);
}

// ARM words at the start of the code, then zeros up to `size` bytes.
std::vector<u8> arm_words(std::initializer_list<u32> words, size_t size = 0) {
    std::vector<u8> code(std::max(size, words.size() * 4));
    size_t at = 0;
    for (u32 word : words) store_le32(code.data() + 4 * at++, word);
    return code;
}

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
    ASSERT_TRUE(run_function(m, kCode | 1));
    EXPECT_EQ(m.run_state, RunState::Stopped);
    EXPECT_EQ(m.cpu.regs.r[15], kCode + 2);
    EXPECT_EQ(m.instruction_count, 1u);
    ASSERT_TRUE(run_guest(m, 100));
    EXPECT_EQ(m.cpu.regs.r[15], kCode + 2);
    EXPECT_EQ(m.instruction_count, 1u);
}

TEST(RunGuest, BudgetFailsOnTheLastPermittedStepNamingItsPc) {
    ThumbProgram p(kCode);
    p.movs(0, 1);
    p.movs(1, 2);
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    auto one = run_function(m, kCode | 1, 1);
    ASSERT_FALSE(one);
    EXPECT_EQ(one.error().to_string(), "CBE execution exceeded 1 instructions at 0x01000000");
    EXPECT_EQ(m.run_state, RunState::Faulted);
    EXPECT_EQ(m.instruction_count, 1u);

    // Three instructions and the sentinel pass fit in a budget of 4 but not 3.
    m.run_state = RunState::Running;
    EXPECT_FALSE(run_function(m, kCode | 1, 3));
    m.run_state = RunState::Running;
    EXPECT_TRUE(run_function(m, kCode | 1, 4));
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
        std::vector<u32> expected;
        expected.push_back(kCode);
        while (expected.size() < budget) expected.push_back(kCode + 2 + ((expected.size() - 1) % 4) * 2);
        auto r = run_function(m, kCode | 1, budget);
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

// Every way a run ends in an error: the message names the cause and the pc,
// the failing instruction is not counted, and the run state shows the fault
// (an unknown semihosting reason is refused without stopping the guest).
TEST(RunGuest, FaultsNameTheirCauseAndPcWithoutCountingTheFaultingStep) {
    ThumbProgram undefined(kCode);
    undefined.movs(0, 1);
    undefined.emit(0xDE00);  // permanently undefined
    // The instruction after a trap runs on the per-instruction pass or in a
    // stretch; either way the fault and the count agree.
    ThumbProgram after_service(kCode);
    after_service.call_service(28, 30);
    after_service.emit(0xDE00);
    // The exception vector at 0x00000008 is unmapped: the fetch there faults.
    ThumbProgram swi(kCode);
    swi.swi(0x11);
    struct Case {
        const char* name;
        std::vector<u8> code;
        u32 entry;
        std::string message;
        std::optional<u64> count;
        std::optional<u32> r0;
        std::vector<u32> recent = {};
        RunState state = RunState::Faulted;
    };
    const Case cases[] = {
        {"unmapped fetch", {0xC0, 0x46}, 0x03000001, "instruction fetch from unmapped address 0x03000000", 0, {}},
        {"undefined", undefined.finish(), kCode | 1, "unsupported ARM instruction at 0x01000002", 1, 1,
         {kCode, kCode + 2}},
        // LDR, BLX, the trap pass.
        {"undefined after a service", after_service.finish(), kCode | 1, "unsupported ARM instruction at 0x01000004",
         3, 1},
        {"other software interrupt", swi.finish(), kCode | 1, "instruction fetch from unmapped address 0x00000008", {},
         {}},
        // MOV r0, #7; SWI 0x123456
        {"unknown semihosting reason", arm_words({0xE3A00007, 0xEF123456}), kCode,
         "unhandled semihosting call reason=7 at 0x01000004", {}, 7, {}, RunState::Running},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TarvelMachine m = make_machine(c.code);
        m.run_state = RunState::Running;
        auto r = run_function(m, c.entry);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().to_string(), c.message);
        EXPECT_EQ(m.run_state, c.state);
        if (c.count) {
            EXPECT_EQ(m.instruction_count, *c.count);
        }
        if (c.r0) {
            EXPECT_EQ(m.cpu.regs.r[0], *c.r0);
        }
        if (!c.recent.empty()) {
            EXPECT_EQ(recent_pcs(m), c.recent);
        }
    }
}

TEST(RunGuest, UnmappedFetchesAreRecordedAndRunningOffTheCodeRegionFaultsAtTheFirstUnmappedPc) {
    TarvelMachine m = blank_machine();
    ASSERT_FALSE(run_function(m, 0x03000001));
    EXPECT_EQ(m.memory.unmapped_accesses().count(0x03000000), 1u);

    // The last halfword of the RAM region holds a NOP; the next fetch is unmapped.
    const u32 last = kRamBase + kRamSize - 2;
    m.memory.write16(last, 0x46C0);
    m.instruction_count = 0;
    enter_thumb(m, last);
    auto r = run_guest(m, 100);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "instruction fetch from unmapped address 0x06000000");
    EXPECT_EQ(m.instruction_count, 1u);
}

TEST(Semihosting, ExitStopsTheGuestPastTheCall) {
    ThumbProgram p(kCode);
    p.movs(0, 0x18);
    p.ldr_const(1, 0x20026);
    p.emit(0xDFAB);
    p.movs(2, 1);
    TarvelMachine m = make_machine(p.finish());
    ASSERT_TRUE(run_function(m, kCode | 1));
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
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(run_function(m, kCode | 1));
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, trace ? "caf\xC3\xA9 \xEF\xBF\xBD!Z" : "");
        EXPECT_EQ(m.run_state, RunState::Created);
    }
}

// The branches the bridge performs itself, between the instruction sets and
// back, each leaving its mark in r0; with the idle loop in ARM code.
TEST(BridgeBranches, InterworkingBranchesReachTheirTargetsAndReturn) {
    // A Thumb caller that adds 1 to what its ARM callee at kCode + `callee`
    // (MOV r0, #`r0`; BX lr) returns, calling it as `emit_call` writes.
    auto thumb_caller = [](auto emit_call, u32 callee, u32 r0) {
        ThumbProgram p(kCode);
        p.push_lr();
        emit_call(p);
        p.adds(0, 1);
        p.pop_pc();
        std::vector<u8> code = p.finish();
        code.resize(callee + 8);
        store_le32(code.data() + callee, 0xE3A00000 | r0);
        store_le32(code.data() + callee + 4, 0xE12FFF1E);
        return code;
    };
    const std::vector<u8> blx_register = thumb_caller(
        [](ThumbProgram& p) {
            p.ldr_const(3, kCode + 0x100);
            p.blx(3);
        },
        0x100, 41);
    // BL prefix + BLX suffix at kCode + 2 to kCode + 0x40 (ARM): offset from pc + 4 is 0x3A.
    const std::vector<u8> long_blx = thumb_caller(
        [](ThumbProgram& p) {
            p.emit(0xF000);
            p.emit(static_cast<u16>(0xE800 | (0x3A >> 1)));
        },
        0x40, 16);

    ThumbProgram add_pc(kCode);
    add_pc.movs(2, 4);
    add_pc.emit(0x4497);  // ADD pc, r2: to kCode + 2 + 4 + 4
    add_pc.movs(0, 1);    // skipped
    add_pc.movs(0, 2);    // skipped
    add_pc.movs(0, 3);    // skipped
    add_pc.movs(0, 9);
    add_pc.bx(14);

    // ARM BLX to kCode + 0x22 (Thumb): offset = 0x22 - 8 = 0x1A -> imm24 = 6, H = 1;
    // then MOV pc, r10 returns. The Thumb callee: MOVS r0, #0x63; BX lr.
    std::vector<u8> blx_immediate = arm_words({0xFB000006, 0xE1A0F00A}, 0x40);
    store_le16(blx_immediate.data() + 0x22, 0x2063);
    store_le16(blx_immediate.data() + 0x24, 0x4770);

    struct Case {
        const char* name;
        std::vector<u8> code;
        u32 entry;
        u32 r0;
        RunState state = RunState::Created;
    };
    const Case cases[] = {
        {"Thumb BLX register into ARM", blx_register, kCode | 1, 42},
        {"Thumb long BLX into ARM", long_blx, kCode | 1, 17},
        {"Thumb ADD pc over a table", add_pc.finish(), kCode | 1, 9},
        {"ARM BLX immediate into Thumb", blx_immediate, kCode, 0x63},
        {"ARM idle loop", arm_words({0xE3A00005, 0xEAFFFFFE}), kCode, 5, RunState::Stopped},  // MOV r0, #5; B .
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TarvelMachine m = make_machine(c.code);
        ASSERT_TRUE(run_function(m, c.entry));
        EXPECT_EQ(m.cpu.regs.r[0], c.r0);
        EXPECT_EQ(m.run_state, c.state);
        if (c.entry == kCode && c.state == RunState::Created) {
            EXPECT_EQ(m.cpu.regs.r[14], kCode + 4);  // the link to the ARM caller
            EXPECT_FALSE(m.cpu.regs.thumb());
        }
    }
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
    ASSERT_TRUE(run_function(m, kCode | 1));
    EXPECT_EQ(m.cpu.regs.r[2], 7u);  // f ran
    EXPECT_EQ(m.cpu.regs.r[0], 5u);  // and returned behind the BLX
    EXPECT_EQ(m.instruction_count, 8u);  // LDR, MOV, BLX; MOVS, BX in f; MOVS, LDR, BX
}

TEST(BridgeBookkeeping, RecentPcRingKeepsTheLastThirtyTwo) {
    ThumbProgram p(kCode);
    for (int i = 0; i < 40; ++i) p.movs(0, static_cast<u32>(i));
    p.bx(14);
    TarvelMachine m = make_machine(p.finish());
    ASSERT_TRUE(run_function(m, kCode | 1, 1000));
    EXPECT_EQ(m.instruction_count, 41u);
    const std::vector<u32> pcs = recent_pcs(m);
    ASSERT_EQ(pcs.size(), 32u);
    EXPECT_EQ(pcs.back(), kReturnSentinel);
    EXPECT_EQ(pcs.front(), kCode + 2 * 10);  // 42 passes, the first ten dropped
}

}  // namespace
}  // namespace tarvel::machine
