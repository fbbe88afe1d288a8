// Hand-written Thumb-state cases, grouped by instruction format.

#include <gtest/gtest.h>

#include "common/log.hpp"
#include "cpu_test_support.hpp"

namespace tarvel::armv4t::testing {
namespace {

using ThumbTest = CpuTest;

TEST_F(ThumbTest, ImmediateShiftsOfZero) {
    m.thumb({0x0008, 0x0808, 0x1008});  // LSL r0, r1, #0; LSR r0, r1, #32; ASR r0, r1, #32
    m.r(1) = 0x80000000;
    m.set_flags(kFlagC | kFlagV);
    m.step();
    EXPECT_EQ(m.r(0), 0x80000000u);
    EXPECT_EQ(m.flags(), kFlagN | kFlagC | kFlagV);  // C and V kept
    m.step();
    EXPECT_EQ(m.r(0), 0u);
    EXPECT_EQ(m.flags(), kFlagZ | kFlagC | kFlagV);
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFFFFFFu);
}

TEST_F(ThumbTest, AluShiftsByRegisterAndArithmetic) {
    struct Case {
        u16 inst;
        u32 rd, rs;
        u32 result;
        u32 flags;
    };
    const Case cases[] = {
        {0x4088, 1, 32, 0, kFlagZ | kFlagC},                  // LSL by 32: carry = bit 0
        {0x4088, 1, 33, 0, kFlagZ},                           // LSL by 33
        {0x40C8, 0x80000000, 32, 0, kFlagZ | kFlagC},         // LSR by 32
        {0x4108, 0x80000000, 0x20, 0xFFFFFFFF, kFlagN | kFlagC},  // ASR by 32
        {0x41C8, 0x80000001, 0x20, 0x80000001, kFlagN | kFlagC},  // ROR by 32
        {0x41C8, 3, 0, 3, 0},                                 // ROR by 0: carry kept (clear)
        {0x4248, 0, 1, 0xFFFFFFFF, kFlagN},                   // NEG 1
        {0x4248, 0, 0, 0, kFlagZ | kFlagC},                   // NEG 0
        {0x4148, 1, 1, 2, 0},                                 // ADC without carry
        {0x4188, 5, 3, 1, kFlagC},                            // SBC: 5 - 3 - 1
        {0x4348, 0x10000, 0x10000, 0, kFlagZ},                // MUL, C kept (clear)
        {0x43C8, 0, 0, 0xFFFFFFFF, kFlagN},                   // MVN
    };
    for (const Case& c : cases) {
        m.thumb({c.inst});
        m.r(0) = c.rd;
        m.r(1) = c.rs;
        m.set_flags(0);
        m.step();
        EXPECT_EQ(m.r(0), c.result) << std::hex << c.inst;
        EXPECT_EQ(m.flags(), c.flags) << std::hex << c.inst;
    }
}

TEST_F(ThumbTest, ComparisonsDoNotWrite) {
    m.thumb({0x4288, 0x2805, 0x4208});  // CMP r0, r1; CMP r0, #5; TST r0, r1
    m.r(0) = 5;
    m.r(1) = 6;
    m.step();
    EXPECT_EQ(m.flags(), kFlagN);
    m.step();
    EXPECT_EQ(m.flags(), kFlagZ | kFlagC);
    m.step();
    EXPECT_EQ(m.r(0), 5u);
    EXPECT_EQ(m.flags(), kFlagC);  // 5 & 6 = 4: Z clear, C kept
}

TEST_F(ThumbTest, HighRegisterOperationsAndPc) {
    m.thumb({0x46F8, 0x45C8, 0x4487});  // MOV r8, pc; CMP r8, r9; ADD pc, r0
    m.step();
    EXPECT_EQ(m.r(8), kCode + 4);
    m.r(9) = kCode + 4;
    m.step();
    EXPECT_EQ(m.flags(), kFlagZ | kFlagC);
    m.r(0) = 0x101;
    m.step();
    EXPECT_EQ(m.r(15), (kCode + 4 + 4 + 0x101) & ~1u);
    EXPECT_TRUE(m.cpu.regs.thumb());

    m.thumb({0x468F});  // MOV pc, r1
    m.r(1) = 0x2003;
    m.step();
    EXPECT_EQ(m.r(15), 0x2002u);
    EXPECT_TRUE(m.cpu.regs.thumb());
}

TEST_F(ThumbTest, BxSwitchesStateByBitZero) {
    m.thumb({0x4700});  // BX r0
    m.r(0) = 0x3000;
    m.step();
    EXPECT_FALSE(m.cpu.regs.thumb());
    EXPECT_EQ(m.r(15), 0x3000u);
    m.thumb({0x4700});
    m.r(0) = 0x3001;
    m.step();
    EXPECT_TRUE(m.cpu.regs.thumb());
    EXPECT_EQ(m.r(15), 0x3000u);
}

TEST_F(ThumbTest, PcRelativeLoadUsesTheWordAlignedPc) {
    m.thumb({0x46C0, 0x4801});  // NOP (MOV r8, r8); LDR r0, [pc, #4] at an address with bit 1 set
    m.memory.write32(kCode + 8, 0xCAFEBABE);
    m.steps(2);
    EXPECT_EQ(m.r(0), 0xCAFEBABEu);  // ((kCode + 2 + 4) & ~3) + 4
}

TEST_F(ThumbTest, MisalignedLoadsRotateWordsAndAlignHalfwords) {
    m.memory.write32(kData, 0x44332211);
    m.thumb({0x6808, 0x8808, 0x5E88, 0x5688});  // LDR r0,[r1]; LDRH r0,[r1]; LDSH r0,[r1,r2]; LDSB r0,[r1,r2]
    m.r(1) = kData + 3;
    m.r(2) = 0;
    m.step();
    EXPECT_EQ(m.r(0), 0x33221144u);
    m.step();
    EXPECT_EQ(m.r(0), 0x4433u);
    m.memory.write16(kData + 2, 0x8000);
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFF8000u);
    m.step();
    EXPECT_EQ(m.r(0), 0xFFFFFF80u);
}

TEST_F(ThumbTest, StoresOfEachWidth) {
    m.thumb({0x5088, 0x5488, 0x5288, 0x9001});  // STR r0,[r1,r2]; STRB; STRH; STR r0,[sp,#4]
    m.r(0) = 0x11223344;
    m.r(1) = kData;
    m.r(2) = 2;
    m.r(13) = kData + 0x20;
    m.step();
    EXPECT_EQ(m.memory.read32(kData), 0x11223344u);  // address aligned down
    m.r(0) = 0xAB;
    m.step();
    EXPECT_EQ(m.memory.read8(kData + 2), 0xAB);
    m.r(0) = 0xBEEF;
    m.r(2) = 5;
    m.step();
    EXPECT_EQ(m.memory.read16(kData + 4), 0xBEEF);
    m.step();
    EXPECT_EQ(m.memory.read32(kData + 0x24), 0xBEEFu);
}

TEST_F(ThumbTest, PushPopWithLinkAndPc) {
    m.thumb({0xB501, 0xBD01});  // PUSH {r0, lr}; POP {r0, pc}
    m.r(13) = kData + 0x40;
    m.r(0) = 7;
    m.r(14) = 0x2001;
    m.step();
    EXPECT_EQ(m.r(13), kData + 0x38);
    EXPECT_EQ(m.memory.read32(kData + 0x3C), 0x2001u);
    m.r(0) = 0;
    m.step();
    EXPECT_EQ(m.r(0), 7u);
    EXPECT_EQ(m.r(15), 0x2000u);  // bit 0 cleared, still Thumb
    EXPECT_TRUE(m.cpu.regs.thumb());
    EXPECT_EQ(m.r(13), kData + 0x40);
}

TEST_F(ThumbTest, BlockTransfersWithBaseInListAndEmptyLists) {
    m.thumb({0xC003, 0xC803});  // STMIA r0!, {r0, r1}; LDMIA r0!, {r0, r1}
    m.r(0) = kData;
    m.r(1) = 0x55;
    m.step();
    EXPECT_EQ(m.memory.read32(kData), kData);
    EXPECT_EQ(m.r(0), kData + 8);
    m.r(0) = kData;
    m.step();
    EXPECT_EQ(m.r(0), kData);  // loaded value wins
    EXPECT_EQ(m.r(1), 0x55u);

    m.thumb({0xC100, 0xB400});  // STMIA r1!, {}; PUSH {}
    m.r(1) = kData + 0x100;
    m.r(13) = kData + 0x200;
    m.step();
    EXPECT_EQ(m.memory.read32(kData + 0x100), kCode + 4);
    EXPECT_EQ(m.r(1), kData + 0x140);
    m.step();
    EXPECT_EQ(m.r(13), kData + 0x1C0);
    EXPECT_EQ(m.memory.read32(kData + 0x1C0), kCode + 2 + 4);
}

// The pc word of a POP, or lr of a PUSH, may lie in another page than the rest.
TEST_F(ThumbTest, PushPopAcrossAPageEndAndInBigEndianOrder) {
    m.memory.add_region(0x00010000, 0x00010000);
    m.thumb({0xB507, 0xBD07});  // PUSH {r0-r2, lr}; POP {r0-r2, pc}
    m.r(13) = 0x00010004;
    m.r(0) = 0xA0;
    m.r(1) = 0xA1;
    m.r(2) = 0xA2;
    m.r(14) = 0x3001;
    m.step();
    EXPECT_EQ(m.r(13), 0x0000FFF4u);
    EXPECT_EQ(m.memory.read32(0x0000FFFC), 0xA2u);
    EXPECT_EQ(m.memory.read32(0x00010000), 0x3001u);
    m.r(0) = m.r(1) = m.r(2) = 0;
    m.step();
    EXPECT_EQ(m.r(0), 0xA0u);
    EXPECT_EQ(m.r(2), 0xA2u);
    EXPECT_EQ(m.r(15), 0x3000u);
    EXPECT_EQ(m.r(13), 0x00010004u);

    TestMachine be(true);
    be.thumb({0xB503, 0xBC0C});  // PUSH {r0, r1, lr}; POP {r2, r3}
    be.r(13) = kData + 0x40;
    be.r(0) = 0x01020304;
    be.r(1) = 0x05060708;
    be.r(14) = 0x0A0B0C0D;
    be.step();
    EXPECT_EQ(be.memory.read8(kData + 0x34), 0x01);
    EXPECT_EQ(be.memory.read8(kData + 0x3F), 0x0D);
    be.step();
    EXPECT_EQ(be.r(2), 0x01020304u);
    EXPECT_EQ(be.r(3), 0x05060708u);
}

TEST_F(ThumbTest, StackAndAddressArithmetic) {
    m.thumb({0xB082, 0xB001, 0xA901, 0xA001});  // SUB sp,#8; ADD sp,#4; ADD r1, sp, #4; ADD r0, pc, #4
    m.r(13) = 0x1000;
    m.step();
    EXPECT_EQ(m.r(13), 0x0FF8u);
    m.step();
    EXPECT_EQ(m.r(13), 0x0FFCu);
    m.step();
    EXPECT_EQ(m.r(1), 0x1000u);
    m.step();
    EXPECT_EQ(m.r(0), ((kCode + 6 + 4) & ~3u) + 4);
}

TEST_F(ThumbTest, LongBranchWithLinkInTwoHalves) {
    m.thumb({0xF000, 0xF880});  // BL +0x100
    m.step();
    EXPECT_EQ(m.r(14), kCode + 4);
    m.step();
    EXPECT_EQ(m.r(15), kCode + 4 + 0x100);
    EXPECT_EQ(m.r(14), (kCode + 4) | 1);

    m.thumb({0xF7FF, 0xFFFE});  // BL -4 (to itself)
    m.steps(2);
    EXPECT_EQ(m.r(15), kCode);
}

TEST_F(ThumbTest, ConditionalBranchesAndTheUndefinedCondition) {
    m.thumb({0xD001, 0, 0, 0xDE00});  // BEQ +2 ...; condition 1110 is undefined
    m.set_flags(kFlagZ);
    m.step();
    EXPECT_EQ(m.r(15), kCode + 6);
    EXPECT_FALSE(m.step());
    EXPECT_EQ(m.cpu.regs.mode(), kModeUndefined);
    EXPECT_FALSE(m.cpu.regs.thumb());
    EXPECT_EQ(m.cpu.regs.slots()[35], kCode + 8);
}

TEST_F(ThumbTest, SoftwareInterruptLeavesThumbState) {
    m.thumb({0x46C0, 0xDF12}, kModeUser);
    m.steps(2);
    EXPECT_EQ(m.r(15), 8u);
    EXPECT_EQ(m.cpu.regs.mode(), kModeSupervisor);
    EXPECT_FALSE(m.cpu.regs.thumb());
    EXPECT_EQ(m.cpu.regs.slots()[29], kCode + 4);
    EXPECT_TRUE(m.cpu.regs.spsr() & kThumbBit);
}

TEST_F(ThumbTest, FetchFromUnmappedMemoryIsAShiftOfZero) {
    m.thumb({});
    m.r(15) = 0x40000000;
    m.r(0) = 9;
    m.set_flags(kFlagC);
    EXPECT_TRUE(m.step());  // LSL r0, r0, #0
    EXPECT_EQ(m.r(0), 9u);
    EXPECT_TRUE(m.memory.unmapped_accesses().contains(0x40000000));
}

TEST_F(ThumbTest, TraceNamesTheInstructionClass) {
    log::set_filter(log::Level::Trace);
    log::set_debug_flag(true);
    m.thumb({0x2005});  // MOV r0, #5
    m.step();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "armv4t_emu::thumb|THM: pc: 0x00001000, inst: 0x2005");
    EXPECT_EQ(logged[1], "armv4t_emu::thumb|Instruction: ImmOp");
}

}  // namespace
}  // namespace tarvel::armv4t::testing
