#pragma once
// Instruction classes of both states and how an instruction word maps to one.
//
// The definition is the ordered (value, mask) list: the first entry for which
// (instruction ^ value) & mask == 0 gives the class. The interpreter does not
// search that list per step; it indexes precomputed tables instead:
//   - Thumb: every mask lies within bits 15..6, so bits 15..6 (1024 keys) decide.
//   - ARM: bits 27..20 and 7..4 (4096 keys) decide, except that some classes
//     also look at bits 19..8. Those bits matter in only three ways (bits 11..8
//     zero; bits 19..8 all ones; anything else), so each key has three entries.
// Tests check the tables against the ordered list over every relevant bit.

#include <array>
#include <string_view>

#include "common/bytes.hpp"

namespace tarvel::armv4t {

enum class ArmClass : u8 {
    BranchEx, Branch, DataProc0, DataProc1, DataProc2, PsrImm, PsrReg, Multiply, MulLong,
    SingleXferI, SingleXferR, HwSgnXferR, HwSgnXferI, BlockXfer, Swap, SoftwareInt, CoprocReg, Undefined,
};

enum class ThumbClass : u8 {
    Shifted, AddSub, ImmOp, AluOp, HiRegBx, PcLoad, SingleXferR, HwSgnXfer, SingleXferI, HwXferI,
    SpXfer, LoadAddr, SpAdd, PushPop, BlockXfer, CondBranch, SoftwareInt, Branch, LongBranch, Undefined,
};

std::string_view class_name(ArmClass c);
std::string_view class_name(ThumbClass c);

template <typename Class>
struct DecodeEntry {
    Class cls;
    u32 value;
    u32 mask;
};

inline constexpr std::array<DecodeEntry<ArmClass>, 18> kArmDecodeOrder{{
    {ArmClass::Branch, 0x0A000000, 0x0E000000},
    {ArmClass::BranchEx, 0x012FFF10, 0x0FFFFFF0},
    {ArmClass::Swap, 0x01000090, 0x0FB00FF0},
    {ArmClass::PsrImm, 0x03200000, 0x0FB00000},
    {ArmClass::PsrReg, 0x01000000, 0x0F900FF0},
    {ArmClass::DataProc0, 0x00000000, 0x0E000010},
    {ArmClass::DataProc1, 0x00000010, 0x0E000090},
    {ArmClass::DataProc2, 0x02000000, 0x0E000000},
    {ArmClass::Multiply, 0x00000090, 0x0FC000F0},
    {ArmClass::MulLong, 0x00800090, 0x0F8000F0},
    {ArmClass::SingleXferI, 0x04000000, 0x0E000000},
    {ArmClass::SingleXferR, 0x06000000, 0x0E000010},
    {ArmClass::HwSgnXferR, 0x00000090, 0x0E400F90},
    {ArmClass::HwSgnXferI, 0x00400090, 0x0E400090},
    {ArmClass::BlockXfer, 0x08000000, 0x0E000000},
    {ArmClass::SoftwareInt, 0x0F000000, 0x0F000000},
    {ArmClass::CoprocReg, 0x0E000010, 0x0F000010},
    {ArmClass::Undefined, 0x00000000, 0x00000000},
}};

inline constexpr std::array<DecodeEntry<ThumbClass>, 20> kThumbDecodeOrder{{
    {ThumbClass::Branch, 0xE000, 0xF800},
    {ThumbClass::AddSub, 0x1800, 0xF800},
    {ThumbClass::AluOp, 0x4000, 0xFC00},
    {ThumbClass::Shifted, 0x0000, 0xE000},
    {ThumbClass::ImmOp, 0x2000, 0xE000},
    {ThumbClass::HiRegBx, 0x4400, 0xFC00},
    {ThumbClass::PcLoad, 0x4800, 0xF800},
    {ThumbClass::SingleXferR, 0x5000, 0xF200},
    {ThumbClass::HwSgnXfer, 0x5200, 0xF200},
    {ThumbClass::SingleXferI, 0x6000, 0xE000},
    {ThumbClass::HwXferI, 0x8000, 0xF000},
    {ThumbClass::SpXfer, 0x9000, 0xF000},
    {ThumbClass::LoadAddr, 0xA000, 0xF000},
    {ThumbClass::SpAdd, 0xB000, 0xFF00},
    {ThumbClass::PushPop, 0xB400, 0xF600},
    {ThumbClass::BlockXfer, 0xC000, 0xF000},
    {ThumbClass::SoftwareInt, 0xDF00, 0xFF00},
    {ThumbClass::CondBranch, 0xD000, 0xF000},
    {ThumbClass::LongBranch, 0xF000, 0xF000},
    {ThumbClass::Undefined, 0x0000, 0x0000},
}};

// The ordered search itself: the definition the tables must agree with.
constexpr ArmClass classify_arm_ordered(u32 inst) {
    for (const auto& e : kArmDecodeOrder) {
        if (((inst ^ e.value) & e.mask) == 0) return e.cls;
    }
    return ArmClass::Undefined;
}
constexpr ThumbClass classify_thumb_ordered(u16 inst) {
    for (const auto& e : kThumbDecodeOrder) {
        if (((inst ^ e.value) & e.mask) == 0) return e.cls;
    }
    return ThumbClass::Undefined;
}

// ARM table key: bits 27..20 then bits 7..4.
constexpr u32 arm_key(u32 inst) { return ((inst >> 16) & 0xFF0) | ((inst >> 4) & 0xF); }
constexpr u32 thumb_key(u16 inst) { return inst >> 6; }

// Which of the three cases of bits 19..8 an ARM instruction falls in.
enum ArmVariant : u32 { kVariantSbz = 0, kVariantAllOnes = 1, kVariantOther = 2 };
constexpr u32 arm_variant(u32 inst) {
    if ((inst & 0x00000F00) == 0) return kVariantSbz;
    if ((inst & 0x000FFF00) == 0x000FFF00) return kVariantAllOnes;
    return kVariantOther;
}
// A representative instruction of (key, variant), condition AL.
constexpr u32 arm_representative(u32 key, u32 variant) {
    const u32 middle = variant == kVariantSbz ? 0x00000 : variant == kVariantAllOnes ? 0xFFF00 : 0x00100;
    return 0xE0000000 | ((key & 0xFF0) << 16) | middle | ((key & 0xF) << 4);
}

struct ArmClassTable {
    std::array<std::array<ArmClass, 3>, 4096> entries{};
    constexpr ArmClassTable() {
        for (u32 key = 0; key < 4096; ++key)
            for (u32 v = 0; v < 3; ++v) entries[key][v] = classify_arm_ordered(arm_representative(key, v));
    }
    constexpr ArmClass operator()(u32 inst) const { return entries[arm_key(inst)][arm_variant(inst)]; }
    // True when bits 19..8 can change the class of this key.
    constexpr bool depends_on_middle(u32 key) const {
        return entries[key][0] != entries[key][1] || entries[key][0] != entries[key][2];
    }
};

struct ThumbClassTable {
    std::array<ThumbClass, 1024> entries{};
    constexpr ThumbClassTable() {
        for (u32 key = 0; key < 1024; ++key) entries[key] = classify_thumb_ordered(static_cast<u16>(key << 6));
    }
    constexpr ThumbClass operator()(u16 inst) const { return entries[thumb_key(inst)]; }
};

inline constexpr ArmClassTable kArmClassTable{};
inline constexpr ThumbClassTable kThumbClassTable{};

inline ArmClass classify_arm(u32 inst) { return kArmClassTable(inst); }
inline ThumbClass classify_thumb(u16 inst) { return kThumbClassTable(inst); }

}  // namespace tarvel::armv4t
