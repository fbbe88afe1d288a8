// ARM state: one handler per decode key (bits 27..20 and 7..4), generated from
// templates so that opcode, addressing mode and flag behaviour are constants.

#include <bit>
#include <utility>

#include "armv4t/block_copy.hpp"
#include "armv4t/cpu.hpp"
#include "armv4t/decode_table.hpp"
#include "armv4t/exec.hpp"

namespace tarvel::armv4t {

namespace {

constexpr u32 bit(u32 value, unsigned n) { return (value >> n) & 1; }

// ---------------------------------------------------------------- branches

template <bool Link>
TARVEL_HOT u32 arm_branch(Exec& e, u32 inst, u32 pc) {
    const u32 offset = static_cast<u32>(static_cast<i32>(inst << 8) >> 6);
    if constexpr (Link) e.regs.r[14] = pc + 4;
    return pc + 8 + offset;
}

u32 arm_branch_exchange(Exec& e, u32 inst, u32) {
    const u32 target = e.regs.r[inst & 15];
    if (target & 1) set_state(e, true);
    return target & ~1u;
}

// ---------------------------------------------------------------- data processing

enum class Operand2 { ImmediateShift, RegisterShift, Immediate };

// A data-processing instruction with S that writes the pc returns from an
// exception: CPSR = SPSR. In User and System mode the SPSR is the CPSR, so
// nothing changes. The handler leaves that case to its twin (Twin true), run
// out of line, so that the handlers make no call and keep their registers.
template <u32 Op, bool S, Operand2 Kind, u32 ShiftType, bool Twin = false>
TARVEL_HOT u32 arm_data_processing(Exec& e, u32 inst, u32 pc);
template <u32 Op, bool S, Operand2 Kind, u32 ShiftType>
[[gnu::noinline, gnu::cold]] u32 arm_data_processing_twin(Exec& e, u32 inst, u32 pc) {
    return arm_data_processing<Op, S, Kind, ShiftType, true>(e, inst, pc);
}

template <u32 Op, bool S, Operand2 Kind, u32 ShiftType, bool Twin>
TARVEL_HOT u32 arm_data_processing(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 carry_in = e.regs.carry();
    u32 shifter_carry = carry_in;
    u32 a;
    u32 b;
    if constexpr (Kind == Operand2::Immediate) {
        const u32 rotate = (inst >> 7) & 0x1E;
        b = ror32(inst & 0xFF, rotate);
        if (rotate) shifter_carry = b >> 31;
        a = r[(inst >> 16) & 15];
    } else if constexpr (Kind == Operand2::ImmediateShift) {
        b = shift_by_immediate<ShiftType>(r[inst & 15], (inst >> 7) & 31, shifter_carry);
        a = r[(inst >> 16) & 15];
    } else {
        // With a register-specified shift the amount is read in an extra cycle,
        // during which the pc advances once more: r15 as Rn or Rm reads as the
        // instruction's address + 12.
        const u32 rm = inst & 15;
        const u32 rn = (inst >> 16) & 15;
        b = shift_by_register<ShiftType>(r[rm] + (rm == 15 ? 4 : 0), r[(inst >> 8) & 15], shifter_carry);
        a = r[rn] + (rn == 15 ? 4 : 0);
    }

    constexpr bool kLogical = Op == 0 || Op == 1 || Op == 8 || Op == 9 || Op >= 12;
    constexpr bool kWrites = Op < 8 || Op > 11;
    u32 result = 0;
    AddResult sum{};
    if constexpr (kLogical) {
        if constexpr (Op == 0 || Op == 8) result = a & b;
        if constexpr (Op == 1 || Op == 9) result = a ^ b;
        if constexpr (Op == 12) result = a | b;
        if constexpr (Op == 13) result = b;
        if constexpr (Op == 14) result = a & ~b;
        if constexpr (Op == 15) result = ~b;
    } else {
        if constexpr (Op == 2 || Op == 10) sum = sub_flags(a, b);
        if constexpr (Op == 3) sum = sub_flags(b, a);
        if constexpr (Op == 4 || Op == 11) sum = add_flags(a, b);
        if constexpr (Op == 5) sum = add_with_flags(a, b, carry_in);
        if constexpr (Op == 6) sum = sub_with_flags(a, b, carry_in);
        if constexpr (Op == 7) sum = sub_with_flags(b, a, carry_in);
        result = sum.value;
    }

    const u32 rd = (inst >> 12) & 15;
    if constexpr (kWrites) {
        if (rd == 15) {
            if constexpr (S && !Twin) {
                return defer_to_slow_twin<&arm_data_processing_twin<Op, S, Kind, ShiftType>>(e);
            } else if constexpr (S) {
                if (e.regs.has_spsr()) write_cpsr(e, e.regs.spsr());
            }
            return result;
        }
        r[rd] = result;
    }
    if constexpr (S) {
        if constexpr (kLogical) {
            e.regs.set_nzc(result, shifter_carry);
        } else {
            set_flags_of(e.regs, sum);
        }
    }
    return pc + 4;
}

// ---------------------------------------------------------------- status register transfers

u32 arm_mrs(Exec& e, u32 inst, u32 pc) {
    const u32 value = bit(inst, 22) ? e.regs.spsr() : e.regs.cpsr();
    const u32 rd = (inst >> 12) & 15;
    if (rd == 15) return value;
    e.regs.r[rd] = value;
    return pc + 4;
}

u32 arm_msr(Exec& e, u32 inst, u32 pc, u32 operand) {
    // Only the flags byte (f) and the control byte (c) exist; s and x are ignored.
    // User mode may change the flags only.
    u32 mask = 0;
    if (bit(inst, 19)) mask |= 0xF0000000;
    if (bit(inst, 16) && e.regs.mode() != kModeUser) mask |= 0x000000FF;
    if (bit(inst, 22) && e.regs.has_spsr()) {
        e.regs.set_spsr((e.regs.spsr() & ~mask) | (operand & mask));
    } else {
        write_cpsr(e, (e.regs.cpsr() & ~mask) | (operand & mask));
    }
    return pc + 4;
}

u32 arm_msr_immediate(Exec& e, u32 inst, u32 pc) {
    return arm_msr(e, inst, pc, ror32(inst & 0xFF, (inst >> 7) & 0x1E));
}
u32 arm_msr_register(Exec& e, u32 inst, u32 pc) { return arm_msr(e, inst, pc, e.regs.r[inst & 15]); }

// ---------------------------------------------------------------- multiplies

template <bool Accumulate, bool S>
TARVEL_HOT u32 arm_multiply(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    u32 result = r[inst & 15] * r[(inst >> 8) & 15];
    if constexpr (Accumulate) result += r[(inst >> 12) & 15];
    // The C flag is left as it was (its value is not defined by the architecture).
    if constexpr (S) e.regs.set_nz(result);
    const u32 rd = (inst >> 16) & 15;
    if (rd == 15) return result;
    r[rd] = result;
    return pc + 4;
}

template <bool Signed, bool Accumulate, bool S>
TARVEL_HOT u32 arm_multiply_long(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 rm = r[inst & 15];
    const u32 rs = r[(inst >> 8) & 15];
    const u32 lo = (inst >> 12) & 15;
    const u32 hi = (inst >> 16) & 15;
    u64 product;
    if constexpr (Signed) {
        product = static_cast<u64>(i64{static_cast<i32>(rm)} * i64{static_cast<i32>(rs)});
    } else {
        product = u64{rm} * rs;
    }
    if constexpr (Accumulate) product += (u64{r[hi]} << 32) | r[lo];
    const u32 high = static_cast<u32>(product >> 32);
    if constexpr (S) {
        const u32 nz = (high & kFlagN) | (product == 0 ? kFlagZ : 0);
        e.regs.set_flags(nz | (e.regs.cpsr() & (kFlagC | kFlagV)));  // C and V kept
    }
    u32 next = pc + 4;
    if (lo == 15) next = static_cast<u32>(product); else r[lo] = static_cast<u32>(product);
    if (hi == 15) next = high; else r[hi] = high;
    return next;
}

// ---------------------------------------------------------------- single transfers

template <bool Byte>
TARVEL_HOT u32 arm_swap(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 address = r[(inst >> 16) & 15];
    const u32 source = r[inst & 15];
    u32 old;
    guard_code(e, address & ~3u);
    if constexpr (Byte) {
        old = e.mem.read8(address);
        e.mem.write8(address, static_cast<u8>(source));
    } else {
        old = load_word_rotated(e.mem, address);
        store_word_aligned(e.mem, address, source);
    }
    const u32 rd = (inst >> 12) & 15;
    if (rd == 15) return old;
    r[rd] = old;
    return pc + 4;
}

// Stores of r15 store the instruction's address + 8, like every other read of r15.
// Single transfers: the access comes first and changes nothing when it misses
// the fast path (A::kFast); the instruction is then executed again by its slow
// twin.
template <bool RegisterOffset, bool Pre, bool Up, bool Byte, bool Writeback, bool Load, u32 ShiftType, typename A>
TARVEL_HOT u32 arm_single_transfer(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    u32 offset;
    if constexpr (RegisterOffset) {
        u32 carry = e.regs.carry();
        offset = shift_by_immediate<ShiftType>(r[inst & 15], (inst >> 7) & 31, carry);
    } else {
        offset = inst & 0xFFF;
    }
    const u32 rn = (inst >> 16) & 15;
    const u32 rd = (inst >> 12) & 15;
    const u32 base = r[rn];
    const u32 offset_address = Up ? base + offset : base - offset;
    const u32 address = Pre ? offset_address : base;
    constexpr bool kWriteback = !Pre || Writeback;
    u32 next = pc + 4;
    if constexpr (Load) {
        u32 value;
        const bool done = Byte ? A::load_byte(e, address, value) : A::load_word(e, address, value);
        if constexpr (A::kFast) {
            if (!done) [[unlikely]]
                return defer_to_slow_twin<&arm_single_transfer<RegisterOffset, Pre, Up, Byte, Writeback, Load, ShiftType,
                                                        SlowAccess>>(e);
        }
        // Base written back first, so that a load into the base register wins.
        if constexpr (kWriteback) {
            if (rn == 15) next = offset_address; else r[rn] = offset_address;
        }
        if (rd == 15) next = value; else r[rd] = value;
    } else {
        const u32 value = r[rd];
        const bool done = Byte ? A::store_byte(e, address, value) : A::store_word(e, address, value);
        if constexpr (A::kFast) {
            if (!done) [[unlikely]]
                return defer_to_slow_twin<&arm_single_transfer<RegisterOffset, Pre, Up, Byte, Writeback, Load, ShiftType,
                                                        SlowAccess>>(e);
        }
        if constexpr (kWriteback) {
            if (rn == 15) next = offset_address; else r[rn] = offset_address;
        }
    }
    return next;
}

// Sh: 1 unsigned halfword, 2 signed byte, 3 signed halfword (loads only).
template <bool Pre, bool Up, bool Immediate, bool Writeback, bool Load, u32 Sh, typename A>
TARVEL_HOT u32 arm_halfword_transfer(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 offset = Immediate ? (((inst >> 4) & 0xF0) | (inst & 0xF)) : r[inst & 15];
    const u32 rn = (inst >> 16) & 15;
    const u32 rd = (inst >> 12) & 15;
    const u32 base = r[rn];
    const u32 offset_address = Up ? base + offset : base - offset;
    const u32 address = Pre ? offset_address : base;
    constexpr bool kWriteback = !Pre || Writeback;
    u32 next = pc + 4;
    if constexpr (Load) {
        u32 value;
        bool done;
        if constexpr (Sh == 1) done = A::load_half(e, address, value);
        if constexpr (Sh == 2) done = A::load_signed_byte(e, address, value);
        if constexpr (Sh == 3) done = A::load_signed_half(e, address, value);
        if constexpr (A::kFast) {
            if (!done) [[unlikely]]
                return defer_to_slow_twin<&arm_halfword_transfer<Pre, Up, Immediate, Writeback, Load, Sh, SlowAccess>>(e);
        }
        if constexpr (kWriteback) {
            if (rn == 15) next = offset_address; else r[rn] = offset_address;
        }
        if (rd == 15) next = value; else r[rd] = value;
    } else {
        const bool done = A::store_half(e, address, r[rd]);
        if constexpr (A::kFast) {
            if (!done) [[unlikely]]
                return defer_to_slow_twin<&arm_halfword_transfer<Pre, Up, Immediate, Writeback, Load, Sh, SlowAccess>>(e);
        }
        if constexpr (kWriteback) {
            if (rn == 15) next = offset_address; else r[rn] = offset_address;
        }
    }
    return next;
}

// ---------------------------------------------------------------- block transfers

// Decisions for the corners:
//  - an empty list transfers r15 alone and moves the base by 64 bytes;
//  - LDM with the base in the list: the loaded value wins over the write-back;
//  - STM with the base in the list stores the original base wherever it is in
//    the list (the write-back happens after the stores);
//  - the S bit without r15 in a load (or in any store) moves the User registers;
//    with r15 in a load it restores the CPSR from the SPSR after the loads.
template <bool Pre, bool Up, bool S, bool Writeback, bool Load>
[[gnu::noinline, gnu::cold]] u32 arm_block_transfer_general(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 rn = (inst >> 16) & 15;
    u32 list = inst & 0xFFFF;
    u32 bytes = register_count(list) * 4;
    if (list == 0) {
        list = 1u << 15;
        bytes = 0x40;
    }
    const u32 base = r[rn];
    const u32 new_base = Up ? base + bytes : base - bytes;
    u32 address = Up ? base : base - bytes;
    if (Pre == Up) address += 4;
    u32 next = pc + 4;

    if constexpr (Load) {
        const bool user_bank = S && !(list & 0x8000);
        if constexpr (Writeback) {
            if (rn == 15) next = new_base; else r[rn] = new_base;
        }
        // One lookup for the whole block when it lies in a fast page of a
        // little-endian guest; otherwise word by word.
        const u8* host = e.mem.big_endian() ? nullptr : e.mem.fast_read_span(address & ~3u, bytes);
        if (host && !user_bank) {
            for (u32 pending = list & 0x7FFF; pending; pending &= pending - 1, host += 4)
                r[std::countr_zero(pending)] = load_le32(host);
            if (list & 0x8000) next = load_le32(host);
        } else {
            for (u32 pending = list; pending; pending &= pending - 1) {
                const unsigned n = static_cast<unsigned>(std::countr_zero(pending));
                const u32 value = e.mem.read32(address & ~3u);
                address += 4;
                if (n == 15) {
                    next = value;
                } else if (user_bank) {
                    e.regs.set_user_reg(n, value);
                } else {
                    r[n] = value;
                }
            }
        }
        if constexpr (S) {
            if ((list & 0x8000) && e.regs.has_spsr()) write_cpsr(e, e.regs.spsr());
        }
    } else {
        guard_code(e, address & ~3u);
        u8* host = (S || e.mem.big_endian()) ? nullptr : e.mem.fast_write_span(address & ~3u, bytes);
        if (host) {
            for (u32 pending = list; pending; pending &= pending - 1, host += 4)
                store_le32(host, r[std::countr_zero(pending)]);
        } else {
            for (u32 pending = list; pending; pending &= pending - 1) {
                const unsigned n = static_cast<unsigned>(std::countr_zero(pending));
                e.mem.write32(address & ~3u, S ? e.regs.user_reg(n) : r[n]);
                address += 4;
            }
        }
        if constexpr (Writeback) {
            if (rn == 15) next = new_base; else r[rn] = new_base;
        }
    }
    return next;
}

// The common case kept small: a non-empty list without the S bit, in one fast
// page. Everything else takes the general path, as the slow twin.
template <bool Pre, bool Up, bool S, bool Writeback, bool Load, typename A>
TARVEL_HOT u32 arm_block_transfer(Exec& e, u32 inst, u32 pc) {
    if constexpr (!S && A::kFast) {
        constexpr bool kBig = A::kBigEndian;
        const u32 list = inst & 0xFFFF;
        const u32 rn = (inst >> 16) & 15;
        // r15 as the base matters only for the write-back, which then branches.
        if ((list != 0) & (!Writeback || rn != 15)) {
            u32* r = e.regs.r;
            const u32 bytes = register_count(list) * 4;
            const u32 base = r[rn];
            const u32 lowest = ((Up ? base : base - bytes) + (Pre == Up ? 4 : 0)) & ~3u;
            if constexpr (Load) {
                if (const u8* host = fast_read_block(e, lowest, bytes)) {
                    // Write-back first, so that a loaded base register wins.
                    if constexpr (Writeback) r[rn] = Up ? base + bytes : base - bytes;
                    load_listed<kBig>(r, list, host);
                    return (list & 0x8000) ? r[15] : pc + 4;
                }
            } else {
                if (u8* host = fast_write_block(e, lowest, bytes)) {
                    store_listed<kBig>(r, list, host);
                    if constexpr (Writeback) r[rn] = Up ? base + bytes : base - bytes;
                    return pc + 4;
                }
            }
        }
    }
    return defer_to_slow_twin<&arm_block_transfer_general<Pre, Up, S, Writeback, Load>>(e);
}

// ---------------------------------------------------------------- exceptions and coprocessor

u32 arm_software_interrupt(Exec& e, u32, u32 pc) { return enter_software_interrupt(e, pc + 4); }
u32 arm_undefined(Exec& e, u32, u32 pc) { return enter_undefined(e, pc + 4); }

// ---------------------------------------------------------------- dispatch

template <u32 Key, ArmClass C, typename A>
TARVEL_HOT u32 arm_by_class(Exec& e, u32 inst, u32 pc) {
    constexpr u32 kHigh = Key >> 4;  // bits 27..20
    constexpr u32 kLow = Key & 15;   // bits 7..4
    constexpr bool b24 = bit(kHigh, 4), b23 = bit(kHigh, 3), b22 = bit(kHigh, 2), b21 = bit(kHigh, 1),
                   b20 = bit(kHigh, 0);
    constexpr u32 kOpcode = (kHigh >> 1) & 15;
    constexpr u32 kShift = (kLow >> 1) & 3;
    if constexpr (C == ArmClass::Branch) {
        return arm_branch<b24>(e, inst, pc);
    } else if constexpr (C == ArmClass::BranchEx) {
        return arm_branch_exchange(e, inst, pc);
    } else if constexpr (C == ArmClass::DataProc0) {
        return arm_data_processing<kOpcode, b20, Operand2::ImmediateShift, kShift>(e, inst, pc);
    } else if constexpr (C == ArmClass::DataProc1) {
        return arm_data_processing<kOpcode, b20, Operand2::RegisterShift, kShift>(e, inst, pc);
    } else if constexpr (C == ArmClass::DataProc2) {
        return arm_data_processing<kOpcode, b20, Operand2::Immediate, 0>(e, inst, pc);
    } else if constexpr (C == ArmClass::PsrImm) {
        return arm_msr_immediate(e, inst, pc);
    } else if constexpr (C == ArmClass::PsrReg) {
        return b21 ? arm_msr_register(e, inst, pc) : arm_mrs(e, inst, pc);
    } else if constexpr (C == ArmClass::Multiply) {
        return arm_multiply<b21, b20>(e, inst, pc);
    } else if constexpr (C == ArmClass::MulLong) {
        return arm_multiply_long<b22, b21, b20>(e, inst, pc);
    } else if constexpr (C == ArmClass::SingleXferI) {
        return arm_single_transfer<false, b24, b23, b22, b21, b20, 0, A>(e, inst, pc);
    } else if constexpr (C == ArmClass::SingleXferR) {
        return arm_single_transfer<true, b24, b23, b22, b21, b20, kShift, A>(e, inst, pc);
    } else if constexpr (C == ArmClass::HwSgnXferR || C == ArmClass::HwSgnXferI) {
        // SH = 0 is not a halfword transfer, and signed stores do not exist in ARMv4T.
        if constexpr (kShift == 0 || (!b20 && kShift != 1)) {
            return arm_undefined(e, inst, pc);
        } else {
            return arm_halfword_transfer<b24, b23, C == ArmClass::HwSgnXferI, b21, b20, kShift, A>(e, inst, pc);
        }
    } else if constexpr (C == ArmClass::BlockXfer) {
        return arm_block_transfer<b24, b23, b22, b21, b20, A>(e, inst, pc);
    } else if constexpr (C == ArmClass::Swap) {
        return arm_swap<b22>(e, inst, pc);
    } else if constexpr (C == ArmClass::SoftwareInt) {
        return arm_software_interrupt(e, inst, pc);
    } else if constexpr (C == ArmClass::CoprocReg) {
        return arm_coprocessor_transfer(e, inst, pc);
    } else {
        return arm_undefined(e, inst, pc);
    }
}

template <u32 Key, typename A>
TARVEL_HOT u32 arm_execute(Exec& e, u32 inst, u32 pc) {
    constexpr auto& kClasses = kArmClassTable.entries[Key];
    if constexpr (kArmClassTable.depends_on_middle(Key)) {
        switch (arm_variant(inst)) {
            case kVariantSbz: return arm_by_class<Key, kClasses[kVariantSbz], A>(e, inst, pc);
            case kVariantAllOnes: return arm_by_class<Key, kClasses[kVariantAllOnes], A>(e, inst, pc);
            default: return arm_by_class<Key, kClasses[kVariantOther], A>(e, inst, pc);
        }
    } else {
        return arm_by_class<Key, kClasses[0], A>(e, inst, pc);
    }
}

// Handlers that touch memory come in one version per byte order; the others
// share the little-endian one.
constexpr bool arm_uses_memory(ArmClass c) {
    return c == ArmClass::SingleXferI || c == ArmClass::SingleXferR || c == ArmClass::HwSgnXferR ||
           c == ArmClass::HwSgnXferI || c == ArmClass::BlockXfer;
}
constexpr bool arm_key_uses_memory(u32 key) {
    for (const ArmClass c : kArmClassTable.entries[key])
        if (arm_uses_memory(c)) return true;
    return false;
}
template <u32 Key, bool BigEndian>
using ArmAccess = FastAccess<BigEndian && arm_key_uses_memory(Key)>;

// Run tables stop before the instructions the caller handles itself: software
// interrupts (semihosting and system calls) and the branch-to-self idle loop.
u32 stop_before(Exec& e, u32, u32 pc) {
    e.event |= kEventSpecial;
    return pc;
}

template <u32 Key, typename A>
u32 arm_execute_in_run(Exec& e, u32 inst, u32 pc) {
    if (inst == kArmIdleLoop) return stop_before(e, inst, pc);
    return arm_execute<Key, A>(e, inst, pc);
}

template <u32 Key, bool BigEndian>
constexpr OpHandler arm_run_handler() {
    if constexpr (kArmClassTable.entries[Key][0] == ArmClass::SoftwareInt) {
        return &arm_op<&stop_before>;
    } else if constexpr (Key == arm_key(kArmIdleLoop)) {
        return &arm_op<&arm_execute_in_run<Key, ArmAccess<Key, BigEndian>>>;
    } else {
        return &arm_op<&arm_execute<Key, ArmAccess<Key, BigEndian>>>;
    }
}

template <bool BigEndian, u32... Keys>
constexpr std::array<OpHandler, 4096> make_step_table(std::integer_sequence<u32, Keys...>) {
    return {&arm_op<&arm_execute<Keys, ArmAccess<Keys, BigEndian>>>...};
}
template <bool BigEndian, u32... Keys>
constexpr std::array<OpHandler, 4096> make_run_table(std::integer_sequence<u32, Keys...>) {
    return {arm_run_handler<Keys, BigEndian>()...};
}

}  // namespace

namespace detail {
const std::array<OpHandler, 4096> kArmStepHandlers[2] = {
    make_step_table<false>(std::make_integer_sequence<u32, 4096>{}),
    make_step_table<true>(std::make_integer_sequence<u32, 4096>{}),
};
const std::array<OpHandler, 4096> kArmRunHandlers[2] = {
    make_run_table<false>(std::make_integer_sequence<u32, 4096>{}),
    make_run_table<true>(std::make_integer_sequence<u32, 4096>{}),
};
}  // namespace detail

}  // namespace tarvel::armv4t
