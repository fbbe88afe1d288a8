#include "armv4t/decode_table.hpp"

#include <gtest/gtest.h>

namespace tarvel::armv4t {
namespace {

// The tables must give the same class as the ordered search for every
// instruction. For ARM the class depends on bits 27..4 only (no mask covers the
// condition or bits 3..0), so walking all 2^24 values of those bits is a proof.
TEST(DecodeTable, ArmTableMatchesOrderedSearchForEveryRelevantBitPattern) {
    u32 mismatches = 0;
    for (u32 bits = 0; bits < (1u << 24); ++bits) {
        const u32 inst = 0xE0000000 | (bits << 4);
        if (classify_arm(inst) != classify_arm_ordered(inst)) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
    for (u32 e = 0; e < kArmDecodeOrder.size(); ++e) {
        EXPECT_EQ(kArmDecodeOrder[e].mask & 0xF000000F, 0u) << "a mask reaches the condition or bits 3..0";
    }
}

TEST(DecodeTable, ThumbTableMatchesOrderedSearchForEveryHalfword) {
    for (u32 inst = 0; inst < 0x10000; ++inst) {
        ASSERT_EQ(classify_thumb(static_cast<u16>(inst)), classify_thumb_ordered(static_cast<u16>(inst))) << inst;
    }
}

TEST(DecodeTable, OrderDecidesOverlappingClasses) {
    EXPECT_EQ(classify_arm(0xE12FFF1E), ArmClass::BranchEx);     // BX lr, not a data-processing op
    EXPECT_EQ(classify_arm(0xE1012092), ArmClass::Swap);         // SWP, not a multiply
    EXPECT_EQ(classify_arm(0xE10F0000), ArmClass::PsrReg);       // MRS r0, CPSR
    EXPECT_EQ(classify_arm(0xE329F01F), ArmClass::PsrImm);       // MSR CPSR_fc, #0x1F
    EXPECT_EQ(classify_arm(0xE0010392), ArmClass::Multiply);
    EXPECT_EQ(classify_arm(0xE0832192), ArmClass::MulLong);
    EXPECT_EQ(classify_arm(0xE1D320B0), ArmClass::HwSgnXferI);
    EXPECT_EQ(classify_arm(0xE19320B1), ArmClass::HwSgnXferR);
    EXPECT_EQ(classify_arm(0xE1932FB1), ArmClass::Undefined);    // register form with bits 11..8 set
    EXPECT_EQ(classify_arm(0xE7F000F0), ArmClass::Undefined);
    EXPECT_EQ(classify_arm(0xEF000000), ArmClass::SoftwareInt);
    EXPECT_EQ(classify_arm(0xEE110F10), ArmClass::CoprocReg);    // MRC p15
    EXPECT_EQ(classify_arm(0xED900000), ArmClass::Undefined);    // LDC falls into Undefined
    EXPECT_EQ(classify_arm(0xEE000000), ArmClass::Undefined);    // CDP likewise
    EXPECT_EQ(classify_thumb(0xDF00), ThumbClass::SoftwareInt);  // before the conditional branches
    EXPECT_EQ(classify_thumb(0xDE00), ThumbClass::CondBranch);
    EXPECT_EQ(classify_thumb(0xE800), ThumbClass::Undefined);
    EXPECT_EQ(classify_thumb(0xB100), ThumbClass::Undefined);
    EXPECT_EQ(classify_thumb(0xB500), ThumbClass::PushPop);
    EXPECT_EQ(classify_thumb(0x1C00), ThumbClass::AddSub);       // before the shifts
}

TEST(DecodeTable, ClassNamesFollowDeclarationOrder) {
    EXPECT_EQ(class_name(ArmClass::BranchEx), "BranchEx");
    EXPECT_EQ(class_name(ArmClass::HwSgnXferI), "HwSgnXferI");
    EXPECT_EQ(class_name(ArmClass::Undefined), "Undefined");
    EXPECT_EQ(class_name(ThumbClass::Shifted), "Shifted");
    EXPECT_EQ(class_name(ThumbClass::LongBranch), "LongBranch");
    EXPECT_EQ(class_name(ThumbClass::Undefined), "Undefined");
}

}  // namespace
}  // namespace tarvel::armv4t
