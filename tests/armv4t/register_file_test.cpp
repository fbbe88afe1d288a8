#include "armv4t/reg.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.hpp"
#include "cpu_test_support.hpp"

namespace tarvel::armv4t {
namespace {

struct RegisterFileTest : ::testing::Test {
    test::LogCapture capture{log::Level::Info};
    const std::vector<std::string>& logged = capture.lines();
    RegisterFile regs;
};

TEST_F(RegisterFileTest, StartsInSupervisorModeWithInterruptsMasked) {
    EXPECT_EQ(regs.cpsr(), 0xD3u);
    EXPECT_EQ(regs.bank(), kBankSupervisor);
}

TEST_F(RegisterFileTest, BanksSwapTheRightRegistersAndKeepTheirValues) {
    ASSERT_TRUE(regs.set_cpsr(kModeUser));
    for (unsigned n = 0; n < 16; ++n) regs.set(n, 100 + n);
    ASSERT_TRUE(regs.set_cpsr(kModeFiq));
    EXPECT_EQ(regs.bank(), kBankFiq);
    EXPECT_EQ(regs.get(7), 107u);
    EXPECT_EQ(regs.get(8), 0u);  // r8_fiq
    for (unsigned n = 8; n < 15; ++n) regs.set(n, 200 + n);
    EXPECT_EQ(regs.user_reg(8), 108u);
    EXPECT_EQ(regs.user_reg(14), 114u);
    ASSERT_TRUE(regs.set_cpsr(kModeIrq));
    EXPECT_EQ(regs.get(8), 108u);   // IRQ shares r8-r12 with User
    EXPECT_EQ(regs.get(13), 0u);    // r13_irq
    regs.set(13, 0x2513);
    ASSERT_TRUE(regs.set_cpsr(kModeSystem));
    EXPECT_EQ(regs.bank(), kBankUser);
    EXPECT_EQ(regs.get(13), 113u);

    const auto slots = regs.slots();
    EXPECT_EQ(slots[8], 108u);
    EXPECT_EQ(slots[17], 208u);   // r8_fiq
    EXPECT_EQ(slots[23], 214u);   // r14_fiq
    EXPECT_EQ(slots[25], 0x2513u);  // r13_irq
    EXPECT_EQ(slots[16], regs.cpsr());
}

TEST_F(RegisterFileTest, SpsrIsTheCpsrInUserAndSystemMode) {
    ASSERT_TRUE(regs.set_cpsr(kModeUser | kFlagZ));
    EXPECT_EQ(regs.get(kRegSpsr), kModeUser | kFlagZ);
    regs.set(kRegSpsr, kModeUser | kFlagN);
    EXPECT_EQ(regs.cpsr(), kModeUser | kFlagN);
    ASSERT_TRUE(regs.set_cpsr(kModeAbort));
    regs.set_spsr(0x1234);
    EXPECT_EQ(regs.slots()[33], 0x1234u);
    EXPECT_EQ(regs.cpsr(), kModeAbort);
}

TEST_F(RegisterFileTest, InvalidModeBitsAreRejectedKeepingOtherBits) {
    ASSERT_TRUE(regs.set_cpsr(kModeSupervisor));
    EXPECT_FALSE(regs.set_cpsr(0xF0000000 | kThumbBit | 0x00));
    EXPECT_EQ(regs.cpsr(), 0xF0000000 | kThumbBit | kModeSupervisor);
    EXPECT_EQ(regs.bank(), kBankSupervisor);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "armv4t_emu::reg|Attempted to write to CPSR with invalid mode bits: 0x0");
    EXPECT_FALSE(regs.set_cpsr(0x1A));
    EXPECT_EQ(logged[1], "armv4t_emu::reg|Attempted to write to CPSR with invalid mode bits: 0x1A");
    for (u32 mode = 0; mode < 32; ++mode) {
        EXPECT_EQ(is_valid_mode(mode), bank_of_mode(mode) >= 0) << mode;
    }
}

TEST_F(RegisterFileTest, RestoreRoundTripsAndRejectsInconsistentStates) {
    ASSERT_TRUE(regs.set_cpsr(kModeUndefined));
    for (unsigned n = 0; n < 15; ++n) regs.set(n, n * 3 + 1);
    regs.set_spsr(0x60000010);
    const auto saved = regs.slots();

    RegisterFile copy;
    ASSERT_TRUE(copy.restore(saved, kBankUndefined).ok());
    EXPECT_EQ(copy.slots(), saved);
    EXPECT_EQ(copy.get(14), 43u);
    EXPECT_EQ(copy.spsr(), 0x60000010u);

    RegisterFile other;
    const auto before = other.slots();
    EXPECT_FALSE(other.restore(saved, 6).ok());
    EXPECT_FALSE(other.restore(saved, kBankIrq).ok());
    auto bad_mode = saved;
    bad_mode[kRegCpsr] = 0x05;
    EXPECT_FALSE(other.restore(bad_mode, kBankUser).ok());
    EXPECT_EQ(other.slots(), before);
    EXPECT_EQ(other.bank(), kBankSupervisor);
}

TEST_F(RegisterFileTest, ModeNames) {
    EXPECT_EQ(mode_name(kModeUser), "User");
    EXPECT_EQ(mode_name(kModeFiq), "Fiq");
    EXPECT_EQ(mode_name(kModeSystem), "System");
    EXPECT_EQ(mode_name(kModeUndefined), "Undefined");
}

}  // namespace
}  // namespace tarvel::armv4t
