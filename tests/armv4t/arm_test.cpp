// Hand-written ARM-state cases, grouped by instruction class. Many of them are
// the corners that the differential test keeps out of its comparison.

#include <gtest/gtest.h>

#include <vector>

#include "common/log.hpp"
#include "cpu_test_support.hpp"

namespace tarvel::armv4t::testing {
namespace {

using ArmTest = CpuTest;

// ------------------------------------------------------------ shifter and flags

TEST_F(ArmTest, ImmediateShiftsOfZeroMeanLsl0Lsr32Asr32AndRrx) {
    m.r(1) = 0x80000001;
    m.arm({0xE1B00001});  // MOVS r0, r1 (LSL #0): carry unchanged
    m.set_flags(kFlagC);
    m.step();
    EXPECT_EQ(m.r(0), 0x80000001u);
    EXPECT_EQ(m.flags(), kFlagN | kFlagC);

    m.arm({0xE1B00021});  // MOVS r0, r1, LSR #32
    m.set_flags(0);
    m.step();
    EXPECT_EQ(m.r(0), 0u);
    EXPECT_EQ(m.flags(), kFlagZ | kFlagC);

    m.arm({0xE1B00041});  // MOVS r0, r1, ASR #32
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFFFFFFu);
    EXPECT_EQ(m.flags(), kFlagN | kFlagC);

    m.arm({0xE1B00061});  // MOVS r0, r1, RRX
    m.set_flags(0);
    m.step();
    EXPECT_EQ(m.r(0), 0x40000000u);
    EXPECT_EQ(m.flags(), kFlagC);
}

TEST_F(ArmTest, RegisterShiftsByZeroThirtyTwoAndMore) {
    struct Case {
        u32 inst;
        u32 amount;
        u32 result;
        u32 carry;
    };
    // r1 = 0x80000001; carry in is set, so "kept" shows as 1.
    const Case cases[] = {
        {0xE1B00211, 0, 0x80000001, 1},   {0xE1B00211, 32, 0, 1},          {0xE1B00211, 33, 0, 0},
        {0xE1B00211, 0x101, 2, 1},  // only the bottom byte counts
        {0xE1B00231, 32, 0, 1},           {0xE1B00231, 40, 0, 0},          {0xE1B00231, 31, 1, 0},
        {0xE1B00251, 32, 0xFFFFFFFF, 1},  {0xE1B00251, 200, 0xFFFFFFFF, 1},
        {0xE1B00271, 32, 0x80000001, 1},  {0xE1B00271, 33, 0xC0000000, 1}, {0xE1B00271, 0, 0x80000001, 1},
    };
    for (const Case& c : cases) {
        m.arm({c.inst});
        m.r(1) = 0x80000001;
        m.r(2) = c.amount;
        m.set_flags(kFlagC);
        m.step();
        EXPECT_EQ(m.r(0), c.result) << std::hex << c.inst << " by " << c.amount;
        EXPECT_EQ((m.flags() & kFlagC) != 0, c.carry == 1) << std::hex << c.inst << " by " << c.amount;
    }
}

TEST_F(ArmTest, PcReadsEightAheadAndTwelveWithARegisterShift) {
    m.arm({0xE28F0000});  // ADD r0, pc, #0
    m.step();
    EXPECT_EQ(m.r(0), kCode + 8);

    m.arm({0xE08F0211});  // ADD r0, pc, r1, LSL r2
    m.r(1) = 0;
    m.r(2) = 0;
    m.step();
    EXPECT_EQ(m.r(0), kCode + 12);

    m.arm({0xE081021F});  // ADD r0, r1, pc, LSL r2
    m.r(1) = 0;
    m.r(2) = 1;
    m.step();
    EXPECT_EQ(m.r(0), (kCode + 12) << 1);
}

TEST_F(ArmTest, CarryInOfAdcSbcRsc) {
    m.r(1) = 5;
    m.r(2) = 3;
    m.arm({0xE0B10002, 0xE0D10002, 0xE0F10002});  // ADCS, SBCS, RSCS r0, r1, r2
    m.set_flags(0);
    m.step();
    EXPECT_EQ(m.r(0), 8u);
    m.set_flags(0);
    m.step();
    EXPECT_EQ(m.r(0), 1u);                // 5 - 3 - 1
    EXPECT_EQ(m.flags(), kFlagC);         // no borrow
    m.set_flags(kFlagC);
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFFFFFEu);       // 3 - 5
    EXPECT_EQ(m.flags(), kFlagN);         // borrow: C clear
}

TEST_F(ArmTest, OverflowFlagOfAddAndSubtract) {
    m.r(1) = 0x7FFFFFFF;
    m.r(2) = 1;
    m.arm({0xE0910002, 0xE0510002});  // ADDS r0, r1, r2; SUBS r0, r1, r2
    m.step();
    EXPECT_EQ(m.flags(), kFlagN | kFlagV);
    m.r(1) = 0x80000000;
    m.step();
    EXPECT_EQ(m.r(0), 0x7FFFFFFFu);
    EXPECT_EQ(m.flags(), kFlagC | kFlagV);
}

TEST_F(ArmTest, ConditionCodesFollowTheFlags) {
    // ADDGE r0, r0, #1 and ADDLT r0, r0, #1 with N != V.
    m.arm({0xA2800001, 0xB2800001, 0xC2800001, 0xD2800001});
    m.r(0) = 0;
    m.set_flags(kFlagN);
    m.steps(4);
    EXPECT_EQ(m.r(0), 2u);  // LT and LE pass
    EXPECT_EQ(m.r(15), kCode + 16);
}

TEST_F(ArmTest, DataProcessingWithSToPcRestoresTheCpsrOnlyWhereThereIsAnSpsr) {
    // SUBS pc, lr, #4 in Supervisor mode returns to Thumb code in User mode.
    m.arm({0xE25EF004}, kModeSupervisor);
    m.r(14) = 0x2004;
    m.cpu.regs.set_spsr(kModeUser | kThumbBit | kFlagZ);
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kModeUser | kThumbBit | kFlagZ);
    EXPECT_EQ(m.r(15), 0x2000u);

    // In System mode the SPSR is the CPSR: only the pc changes.
    m.arm({0xE25EF004}, kModeSystem);
    m.set_flags(kFlagV);
    m.r(14) = 0x3004;
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kFlagV | kModeSystem);
    EXPECT_EQ(m.r(15), 0x3000u);
}

TEST_F(ArmTest, ExceptionReturnToAnInvalidModeKeepsTheModeAndLogs) {
    m.arm({0xE1B0F00E}, kModeSupervisor);  // MOVS pc, lr
    m.r(14) = 0x2000;
    m.cpu.regs.set_spsr(kFlagC | 0x05);
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kFlagC | kModeSupervisor);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), "armv4t_emu::reg|Attempted to write to CPSR with invalid mode bits: 0x5");
}

// ------------------------------------------------------------ multiplies

TEST_F(ArmTest, MultiplyFlagsLeaveCarryAndOverflow) {
    m.r(1) = 0x80000000;
    m.r(2) = 2;
    m.arm({0xE0100291});  // MULS r0, r1, r2
    m.set_flags(kFlagC | kFlagV);
    m.step();
    EXPECT_EQ(m.r(0), 0u);
    EXPECT_EQ(m.flags(), kFlagZ | kFlagC | kFlagV);
}

TEST_F(ArmTest, LongMultipliesSignedUnsignedAndAccumulate) {
    m.r(2) = 0xFFFFFFFF;
    m.r(3) = 2;
    m.arm({0xE0810392, 0xE0C10392, 0xE0E10392, 0xE0D10392});  // UMULL, SMULL, SMLAL, SMULLS r0, r1, r2, r3
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFFFFFEu);
    EXPECT_EQ(m.r(1), 1u);
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFFFFFEu);
    EXPECT_EQ(m.r(1), 0xFFFFFFFFu);
    m.r(0) = 2;
    m.r(1) = 0;
    m.step();  // 2 + (-2)
    EXPECT_EQ(m.r(0), 0u);
    EXPECT_EQ(m.r(1), 0u);
    m.set_flags(kFlagC);
    m.step();
    EXPECT_EQ(m.flags(), kFlagN | kFlagC);
}

// ------------------------------------------------------------ single transfers

// A word load from any byte of a word rotates that word right by the byte
// offset times eight; a word store aligns down.
TEST_F(ArmTest, MisalignedWordLoadRotatesAndStoreAligns) {
    m.memory.write32(kData, 0x44332211);
    const u32 rotated[4] = {0x44332211, 0x11443322, 0x22114433, 0x33221144};
    for (u32 offset = 0; offset < 4; ++offset) {
        m.arm({0xE5910000});  // LDR r0, [r1]
        m.r(1) = kData + offset;
        m.step();
        EXPECT_EQ(m.r(0), rotated[offset]) << "offset " << offset;
    }
    m.arm({0xE5812000});  // STR r2, [r1]
    m.r(1) = kData + 0x101;
    m.r(2) = 0xAABBCCDD;
    m.step();
    EXPECT_EQ(m.memory.read32(kData + 0x100), 0xAABBCCDDu);
    EXPECT_EQ(m.memory.read8(kData + 0x104), 0);
}

TEST_F(ArmTest, IndexingWritebackAndLoadIntoTheBase) {
    m.memory.write32(kData, 0x11111111);
    m.memory.write32(kData + 4, 0x22222222);
    m.arm({0xE5B10004, 0xE4112004, 0xE4911004});  // LDR r0,[r1,#4]!; LDR r2,[r1],#-4; LDR r1,[r1],#4
    m.r(1) = kData;
    m.step();
    EXPECT_EQ(m.r(0), 0x22222222u);
    EXPECT_EQ(m.r(1), kData + 4);
    m.step();
    EXPECT_EQ(m.r(2), 0x22222222u);
    EXPECT_EQ(m.r(1), kData);
    m.step();
    EXPECT_EQ(m.r(1), 0x11111111u);  // the load wins over the write-back
}

TEST_F(ArmTest, StoreOfPcAndLoadIntoPc) {
    m.arm({0xE581F000, 0xE591F000});  // STR pc, [r1]; LDR pc, [r1]
    m.r(1) = kData;
    m.step();
    EXPECT_EQ(m.memory.read32(kData), kCode + 8);
    m.memory.write32(kData, 0x3000);
    m.step();
    EXPECT_EQ(m.r(15), 0x3000u);
    EXPECT_FALSE(m.cpu.regs.thumb());
}

TEST_F(ArmTest, HalfwordAndSignedTransfersIgnoreBitZero) {
    m.memory.write16(kData, 0x8001);
    m.memory.write16(kData + 2, 0x7F80);
    m.arm({0xE1D100B0, 0xE1D100F0, 0xE1D100D2, 0xE1C130B4});  // LDRH; LDRSH; LDRSB r0,[r1,#2]; STRH r3,[r1,#4]
    m.r(1) = kData + 1;
    m.step();
    EXPECT_EQ(m.r(0), 0x8001u);
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFF8001u);
    m.step();  // byte at kData + 3 = 0x7F
    EXPECT_EQ(m.r(0), 0x7Fu);
    m.r(3) = 0x12345678;
    m.step();
    EXPECT_EQ(m.memory.read16(kData + 4), 0x5678);
    EXPECT_EQ(m.memory.read8(kData + 6), 0);
}

TEST_F(ArmTest, SignedStoreEncodingsAreUndefined) {
    m.arm({0xE1C100D0});  // would be a "signed byte store"
    EXPECT_FALSE(m.step());
    EXPECT_EQ(m.cpu.regs.mode(), kModeUndefined);
}

// ------------------------------------------------------------ block transfers

TEST_F(ArmTest, PushAndPopThroughStmdbAndLdmia) {
    m.arm({0xE92D4003, 0xE8BD8003});  // STMDB sp!, {r0, r1, lr}; LDMIA sp!, {r0, r1, pc}
    m.r(13) = kData + 0x100;
    m.r(0) = 10;
    m.r(1) = 11;
    m.r(14) = 0x2000;
    m.step();
    EXPECT_EQ(m.r(13), kData + 0x100 - 12);
    EXPECT_EQ(m.memory.read32(kData + 0x100 - 12), 10u);
    EXPECT_EQ(m.memory.read32(kData + 0x100 - 4), 0x2000u);
    m.r(0) = m.r(1) = 0;
    m.step();
    EXPECT_EQ(m.r(0), 10u);
    EXPECT_EQ(m.r(1), 11u);
    EXPECT_EQ(m.r(15), 0x2000u);
    EXPECT_EQ(m.r(13), kData + 0x100);
}

TEST_F(ArmTest, BaseInTheListEmptyListAndPcInTheList) {
    m.arm({0xE8A00003, 0xE8B00003});  // STMIA r0!, {r0, r1}; LDMIA r0!, {r0, r1}
    m.r(0) = kData;
    m.r(1) = 0x99;
    m.step();
    EXPECT_EQ(m.memory.read32(kData), kData);  // the original base
    EXPECT_EQ(m.r(0), kData + 8);
    m.r(0) = kData;
    m.step();
    EXPECT_EQ(m.r(0), kData);  // loaded, not written back
    EXPECT_EQ(m.r(1), 0x99u);

    m.arm({0xE8A00000, 0xE8808000});  // STMIA r0!, {}; STMIA r0, {pc}
    m.r(0) = kData + 0x40;
    m.step();
    EXPECT_EQ(m.memory.read32(kData + 0x40), kCode + 8);  // r15 alone
    EXPECT_EQ(m.r(0), kData + 0x80);                      // and 64 bytes
    m.step();
    EXPECT_EQ(m.memory.read32(kData + 0x80), kCode + 4 + 8);

    m.memory.write32(kData, 0x2468);
    m.arm({0xE8B00000});  // LDMIA r0!, {}
    m.r(0) = kData;
    m.step();
    EXPECT_EQ(m.r(15), 0x2468u);
    EXPECT_EQ(m.r(0), kData + 0x40);
}

// Based on r15 the block starts 8 bytes past the instruction; a write-back to
// r15 branches to the new base.
TEST_F(ArmTest, BlocksBasedOnThePc) {
    m.arm({0xE89F0003, 0xE1A00000, 0x0000AAAA, 0x0000BBBB});  // LDMIA pc, {r0, r1}; NOP; data
    m.step();
    EXPECT_EQ(m.r(0), 0xAAAAu);
    EXPECT_EQ(m.r(1), 0xBBBBu);
    EXPECT_EQ(m.r(15), kCode + 4);

    m.arm({0xE8BF0001, 0, 0x0000CCCC});  // LDMIA pc!, {r0}
    m.step();
    EXPECT_EQ(m.r(0), 0xCCCCu);
    EXPECT_EQ(m.r(15), kCode + 12);
}

TEST_F(ArmTest, UserBankTransfersFromFiqAndExceptionReturnThroughLdm) {
    m.arm({0xE8C02100, 0xE8D00100}, kModeSystem);  // STMIA r0, {r8, r13}^; LDMIA r0, {r8}^
    m.r(8) = 0x88;
    m.r(13) = 0xDD;
    m.cpu.regs.set_cpsr(kModeFiq);
    m.r(8) = 0xF8;
    m.r(0) = kData;
    m.r(15) = kCode;
    m.step();
    EXPECT_EQ(m.memory.read32(kData), 0x88u);
    EXPECT_EQ(m.memory.read32(kData + 4), 0xDDu);
    m.memory.write32(kData, 0x1234);
    m.step();
    EXPECT_EQ(m.r(8), 0xF8u);
    EXPECT_EQ(m.cpu.regs.user_reg(8), 0x1234u);

    m.arm({0xE8D08000}, kModeIrq);  // LDMIA r0, {pc}^
    m.cpu.regs.set_spsr(kModeUser | kFlagN);
    m.r(0) = kData;
    m.memory.write32(kData, 0x4000);
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kModeUser | kFlagN);
    EXPECT_EQ(m.r(15), 0x4000u);
}

// A block that leaves its page, or runs past the end of memory, is moved
// word by word with the same result as a block inside one page.
TEST_F(ArmTest, BlocksAcrossAPageEndAndIntoUnmappedMemory) {
    m.memory.add_region(0x00010000, 0x00010000);  // the next page, a region of its own
    m.arm({0xE8A0E0FE, 0xE93000FF});              // STMIA r0!, {r1-r7, sp, lr, pc}; LDMDB r0!, {r0-r7}
    for (int n = 1; n < 8; ++n) m.r(n) = 0x100u * n;
    m.r(13) = 0xD00;
    m.r(14) = 0xE00;
    m.r(0) = 0x0000FFF0;
    m.step();
    EXPECT_EQ(m.r(0), 0x0000FFF0u + 40);
    EXPECT_EQ(m.memory.read32(0x0000FFF0), 0x100u);
    EXPECT_EQ(m.memory.read32(0x0000FFFC), 0x400u);
    EXPECT_EQ(m.memory.read32(0x00010000), 0x500u);
    EXPECT_EQ(m.memory.read32(0x00010010), 0xE00u);
    EXPECT_EQ(m.memory.read32(0x00010014), kCode + 8);
    m.step();  // the eight words below 0x00010018, from 0x0000FFF8
    EXPECT_EQ(m.r(0), 0x300u);  // loaded, not written back
    EXPECT_EQ(m.r(1), 0x400u);
    EXPECT_EQ(m.r(4), 0x700u);
    EXPECT_EQ(m.r(5), 0xD00u);
    EXPECT_EQ(m.r(6), 0xE00u);
    EXPECT_EQ(m.r(7), kCode + 8);
    EXPECT_TRUE(m.memory.unmapped_accesses().empty());

    // Past the last region: stores are dropped and recorded, loads read zero.
    m.arm({0xE881001E, 0xE891001E});  // STMIA r1, {r1-r4}; LDMIA r1, {r1-r4}
    m.r(1) = 0x0001FFF8;
    m.r(2) = 0x22;
    m.r(3) = 0x33;
    m.r(4) = 0x44;
    m.step();
    EXPECT_EQ(m.memory.read32(0x0001FFF8), 0x0001FFF8u);
    EXPECT_EQ(m.memory.read32(0x0001FFFC), 0x22u);
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(0x00020000));
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(0x00020004));
    m.step();
    EXPECT_EQ(m.r(1), 0x0001FFF8u);
    EXPECT_EQ(m.r(2), 0x22u);
    EXPECT_EQ(m.r(3), 0u);
    EXPECT_EQ(m.r(4), 0u);
}

TEST_F(ArmTest, BigEndianBlocksKeepTheGuestOrder) {
    TestMachine be(true);
    be.arm({0xE92D4006, 0xE8BD0038});  // PUSH {r1, r2, lr}; POP {r3, r4, r5}
    be.r(13) = kData + 0x100;
    be.r(1) = 0x11223344;
    be.r(2) = 0x55667788;
    be.r(14) = 0x99AABBCC;
    be.step();
    EXPECT_EQ(be.memory.read8(kData + 0x100 - 12), 0x11);
    EXPECT_EQ(be.memory.read8(kData + 0x100 - 1), 0xCC);
    be.step();
    EXPECT_EQ(be.r(3), 0x11223344u);
    EXPECT_EQ(be.r(4), 0x55667788u);
    EXPECT_EQ(be.r(5), 0x99AABBCCu);
    EXPECT_EQ(be.r(13), kData + 0x100);
}

// ------------------------------------------------------------ swap

TEST_F(ArmTest, SwapWordRotatesAndByteSwaps) {
    m.memory.write32(kData, 0x44332211);
    m.arm({0xE1020091, 0xE1420091});  // SWP r0, r1, [r2]; SWPB r0, r1, [r2]
    m.r(1) = 0xAABBCCDD;
    m.r(2) = kData + 2;
    m.step();
    EXPECT_EQ(m.r(0), 0x22114433u);
    EXPECT_EQ(m.memory.read32(kData), 0xAABBCCDDu);
    m.r(1) = 0x5A;
    m.step();
    EXPECT_EQ(m.r(0), 0xBBu);
    EXPECT_EQ(m.memory.read8(kData + 2), 0x5A);
}

// ------------------------------------------------------------ status registers

TEST_F(ArmTest, MrsOfSpsrInUserModeReadsTheCpsr) {
    m.arm({0xE14F0000}, kModeUser);  // MRS r0, SPSR
    m.set_flags(kFlagZ);
    m.step();
    EXPECT_EQ(m.r(0), kFlagZ | kModeUser);
}

TEST_F(ArmTest, MsrFieldRulesAndModeValidation) {
    m.arm({0xE121F000}, kModeSupervisor);  // MSR CPSR_c, r0 with mode bits 0
    m.r(0) = 0x000000C0;
    m.step();
    EXPECT_EQ(m.cpu.regs.mode(), kModeSupervisor);
    EXPECT_EQ(m.cpu.regs.cpsr() & 0xC0, 0xC0u);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), "armv4t_emu::reg|Attempted to write to CPSR with invalid mode bits: 0x0");

    m.cpu.regs.set_cpsr(kModeSystem);
    m.arm({0xE121F000, 0xE328F20F}, kModeUser);  // MSR CPSR_c, r0; MSR CPSR_f, #0xF0000000
    m.r(0) = kModeSystem;
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kModeUser);  // User code cannot change the control byte
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kFlagsMask | kModeUser);

    m.arm({0xE126F000, 0xE12FF000}, kModeSystem);  // MSR CPSR_sx, r0; MSR CPSR_fsxc, r0
    m.r(0) = 0x0FFFFF00 | kModeIrq;
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kFlagsMask | kModeSystem);  // s and x are ignored
    m.step();
    EXPECT_EQ(m.cpu.regs.cpsr(), kModeIrq);
    EXPECT_EQ(m.cpu.regs.bank(), kBankIrq);
}

TEST_F(ArmTest, MsrToSpsrInAnExceptionMode) {
    m.arm({0xE169F000}, kModeAbort);  // MSR SPSR_fc, r0
    m.r(0) = 0x20000010;
    m.step();
    EXPECT_EQ(m.cpu.regs.spsr(), 0x20000010u);
    EXPECT_EQ(m.cpu.regs.mode(), kModeAbort);
}

// ------------------------------------------------------------ exceptions, coprocessor, fetch

TEST_F(ArmTest, SoftwareInterruptEntersSupervisorMode) {
    m.arm({0xEF123456}, kModeUser);
    m.cpu.regs.set_cpsr(kModeUser | kFlagN | kFiqDisable);
    m.step();
    EXPECT_EQ(m.r(15), 8u);
    EXPECT_EQ(m.r(14), kCode + 4);
    EXPECT_EQ(m.cpu.regs.cpsr(), kFlagN | kIrqDisable | kModeSupervisor);  // F cleared
    EXPECT_EQ(m.cpu.regs.spsr(), kModeUser | kFlagN | kFiqDisable);
    EXPECT_EQ(m.cpu.regs.bank(), kBankSupervisor);
    EXPECT_EQ(m.cpu.regs.slots()[29], kCode + 4);
}

TEST_F(ArmTest, UndefinedInstructionEntryReturnsFalse) {
    m.arm({0xE7F000F0});
    m.set_flags(kFlagC);
    EXPECT_FALSE(m.step());
    EXPECT_EQ(m.r(15), 4u);
    EXPECT_EQ(m.cpu.regs.cpsr(), kFlagC | 0x9Bu);
    EXPECT_EQ(m.cpu.regs.slots()[35], kCode + 4);
    EXPECT_EQ(m.cpu.regs.slots()[36], kFlagC | kModeSystem);
}

TEST_F(ArmTest, CoprocessorTransfersReadZeroAndAreLogged) {
    m.arm({0xEE113F10, 0xEE073F15});  // MRC p15, 0, r3, c1, c0, 0; MCR p15, 0, r3, c7, c5, 0
    m.r(3) = 0x1234;
    m.step();
    EXPECT_EQ(m.r(3), 0u);
    m.r(3) = 0xABCD;
    m.step();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "armv4t_emu::arm|Reading to R3 from P15,C1,C0,0, cpinfo 0, mode: System");
    EXPECT_EQ(logged[1], "armv4t_emu::arm|Writing 0x0000abcd to P15,C7,C5,0, cpinfo 0, mode: System");
}

TEST_F(ArmTest, FetchFromUnmappedMemoryExecutesZeroAndIsRecorded) {
    m.r(15) = 0x40000000;
    m.r(0) = 7;
    EXPECT_TRUE(m.step());  // ANDEQ r0, r0, r0
    EXPECT_EQ(m.r(0), 7u);
    EXPECT_EQ(m.r(15), 0x40000004u);
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(0x40000000));
}

TEST_F(ArmTest, MisalignedPcFetchesTheRotatedWord) {
    // Rotated right by 16 this word is MOV r0, #5.
    m.memory.write32(kCode, 0x0005E3A0);
    m.r(15) = kCode + 2;
    EXPECT_TRUE(m.step());
    EXPECT_EQ(m.r(0), 5u);
    EXPECT_EQ(m.r(15), kCode + 6);
}

TEST_F(ArmTest, BigEndianGuestLoadsAndStoresInItsOwnOrder) {
    TestMachine be(true);
    be.arm({0xE5910000, 0xE5C12004});  // LDR r0, [r1]; STRB r2, [r1, #4]
    std::vector<u8> bytes{0x11, 0x22, 0x33, 0x44};
    be.memory.write_bytes(kData, bytes);
    be.r(1) = kData;
    be.r(2) = 0xAB;
    be.steps(2);
    EXPECT_EQ(be.r(0), 0x11223344u);
    EXPECT_EQ(be.memory.read8(kData + 4), 0xAB);
}

TEST_F(ArmTest, BranchesAndExchange) {
    m.arm({0xEB000001, 0, 0, 0xE12FFF10});  // BL +4; ...; BX r0
    m.step();
    EXPECT_EQ(m.r(15), kCode + 12);
    EXPECT_EQ(m.r(14), kCode + 4);
    m.r(0) = 0x2001;
    m.step();
    EXPECT_EQ(m.r(15), 0x2000u);
    EXPECT_TRUE(m.cpu.regs.thumb());
}

// ------------------------------------------------------------ tracing

TEST_F(ArmTest, TraceLinesOnlyWhenEnabled) {
    m.arm({0xE3A00001, 0x13A00002});  // MOV r0, #1; MOVNE r0, #2
    m.steps(2);
    EXPECT_TRUE(logged.empty());

    log::set_filter(log::Level::Trace);
    log::set_debug_flag(true);
    m.arm({0xE3A00001, 0x13A00002});
    m.set_flags(kFlagZ);
    m.steps(2);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0], "armv4t_emu::arm|ARM: pc: 0x00001000, inst: 0xE3A00001, cond: E, cflags: 0100");
    EXPECT_EQ(logged[1], "armv4t_emu::arm|ARM: pc: 0x00001004, inst: 0x13A00002, cond: 1, cflags: 0100");
    EXPECT_EQ(logged[2], "armv4t_emu::arm|cond not met");
}

}  // namespace
}  // namespace tarvel::armv4t::testing
