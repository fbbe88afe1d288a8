// Thumb state: one handler per decode key (bits 15..6), generated from templates
// so that the operation, and often the registers and immediates, are constants.

#include <bit>
#include <utility>

#include "armv4t/block_copy.hpp"
#include "armv4t/cpu.hpp"
#include "armv4t/decode_table.hpp"
#include "armv4t/exec.hpp"

namespace tarvel::armv4t {

namespace {

constexpr u32 bits(u32 value, unsigned low, unsigned count) { return (value >> low) & ((1u << count) - 1); }

u32 carry_of(const Exec& e) { return e.regs.carry(); }

// load_block and store_block word by word through the memory, out of line so
// that the fast path saves no registers for the calls.
template <bool Extra>
[[gnu::noinline, gnu::cold]] u32 load_block_slow(Exec& e, u32* r, u32 list, u32& address) {
    for (u32 pending = list; pending; pending &= pending - 1) {
        r[std::countr_zero(pending)] = e.mem.read32(address & ~3u);
        address += 4;
    }
    u32 extra = 0;
    if constexpr (Extra) {
        extra = e.mem.read32(address & ~3u);
        address += 4;
    }
    return extra;
}
template <bool Extra>
[[gnu::noinline, gnu::cold]] void store_block_slow(Exec& e, const u32* r, u32 list, u32 address, u32 extra) {
    for (u32 pending = list; pending; pending &= pending - 1) {
        e.mem.write32(address & ~3u, r[std::countr_zero(pending)]);
        address += 4;
    }
    if constexpr (Extra) e.mem.write32(address & ~3u, extra);
}

// Loads the low registers in `list` (r0-r7, ascending) from consecutive words at
// `address` (low bits ignored); with Extra one more word follows, which is
// returned. `address` is advanced past the block. One memory lookup serves the
// whole block when it lies in a fast page; otherwise word by word.
template <bool Extra, typename A>
TARVEL_HOT u32 load_block(Exec& e, u32* r, u32 list, u32& address) {
    const u32 count = register_count(list);
    const u32 bytes = (count + (Extra ? 1 : 0)) * 4;
    u32 extra = 0;
    if (const u8* host = fast_read_block(e, address & ~3u, bytes)) [[likely]] {
        if (guest_big_endian<A>(e)) {
            load_listed<true, false>(r, list, host);
            if constexpr (Extra) extra = load_be32(host + count * 4);
        } else {
            load_listed<false, false>(r, list, host);
            if constexpr (Extra) extra = load_le32(host + count * 4);
        }
        address += bytes;
        return extra;
    }
    return load_block_slow<Extra>(e, r, list, address);
}

// Stores the low registers in `list` (ascending) at consecutive words from
// `address` (low bits ignored); with Extra, `extra` goes in the word after them.
template <bool Extra, typename A>
TARVEL_HOT void store_block(Exec& e, const u32* r, u32 list, u32 address, u32 extra) {
    const u32 count = register_count(list);
    const u32 bytes = (count + (Extra ? 1 : 0)) * 4;
    if (u8* host = fast_write_block(e, address & ~3u, bytes)) [[likely]] {
        if (guest_big_endian<A>(e)) {
            store_listed<true, false>(r, list, host);
            if constexpr (Extra) store_be32(host + count * 4, extra);
        } else {
            store_listed<false, false>(r, list, host);
            if constexpr (Extra) store_le32(host + count * 4, extra);
        }
        return;
    }
    store_block_slow<Extra>(e, r, list, address, extra);
}

// LSL, LSR, ASR by an immediate; N, Z and C are set, V is kept.
template <u32 Type, u32 Amount>
TARVEL_HOT u32 thumb_shifted(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    u32 carry = carry_of(e);
    const u32 result = shift_by_immediate<Type>(r[bits(inst, 3, 3)], Amount, carry);
    r[inst & 7] = result;
    e.regs.set_nzc(result, carry);
    return pc + 2;
}

template <bool Immediate, bool Subtract, u32 Operand>
TARVEL_HOT u32 thumb_add_subtract(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 a = r[bits(inst, 3, 3)];
    const u32 b = Immediate ? Operand : r[Operand];
    const AddResult sum = Subtract ? sub_flags(a, b) : add_flags(a, b);
    r[inst & 7] = sum.value;
    set_flags_of(e.regs, sum);
    return pc + 2;
}

template <u32 Op, u32 Rd>
TARVEL_HOT u32 thumb_immediate(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 imm = inst & 0xFF;
    if constexpr (Op == 0) {
        r[Rd] = imm;
        e.regs.set_nz(imm);
    } else {
        const AddResult sum = Op == 2 ? add_flags(r[Rd], imm) : sub_flags(r[Rd], imm);
        if constexpr (Op != 1) r[Rd] = sum.value;
        set_flags_of(e.regs, sum);
    }
    return pc + 2;
}

template <u32 Op>
TARVEL_HOT u32 thumb_alu(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 rd = inst & 7;
    const u32 a = r[rd];
    const u32 b = r[bits(inst, 3, 3)];
    u32 result = 0;
    if constexpr (Op == 0 || Op == 8) result = a & b;
    if constexpr (Op == 1) result = a ^ b;
    if constexpr (Op == 12) result = a | b;
    if constexpr (Op == 14) result = a & ~b;
    if constexpr (Op == 15) result = ~b;
    if constexpr (Op == 13) result = a * b;  // C is left as it was
    if constexpr (Op == 0 || Op == 1 || Op == 8 || Op >= 12) e.regs.set_nz(result);
    if constexpr (Op == 2 || Op == 3 || Op == 4 || Op == 7) {
        u32 carry = carry_of(e);
        result = shift_by_register<Op == 2 ? 0 : Op == 3 ? 1 : Op == 4 ? 2 : 3>(a, b, carry);
        e.regs.set_nzc(result, carry);
    }
    if constexpr (Op == 5 || Op == 6 || Op == 9 || Op == 10 || Op == 11) {
        AddResult sum{};
        if constexpr (Op == 5) sum = add_with_flags(a, b, carry_of(e));
        if constexpr (Op == 6) sum = sub_with_flags(a, b, carry_of(e));
        if constexpr (Op == 9) sum = sub_flags(0, b);
        if constexpr (Op == 10) sum = sub_flags(a, b);
        if constexpr (Op == 11) sum = add_flags(a, b);
        result = sum.value;
        set_flags_of(e.regs, sum);
    }
    if constexpr (Op != 8 && Op != 10 && Op != 11) r[rd] = result;
    return pc + 2;
}

// ADD, CMP, MOV and BX on the full register set. A write to r15 branches (bit 0
// cleared, the state unchanged); BX takes the state from bit 0 of the target.
template <u32 Op, u32 H1, u32 H2>
TARVEL_HOT u32 thumb_high_register(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 rd = (inst & 7) | (H1 << 3);
    const u32 rs = bits(inst, 3, 3) | (H2 << 3);
    if constexpr (Op == 1) {
        set_flags_of(e.regs, sub_flags(r[rd], r[rs]));
        return pc + 2;
    } else if constexpr (Op == 3) {
        const u32 target = r[rs];
        // H1 set makes BX the register form of BLX (a later-core instruction that
        // applications for this platform use). The link is written after the
        // target is read, so BLX lr works. The should-be-zero bits 2..0 are
        // ignored in both forms, as the cores that have BLX ignore them: code
        // that sets them still branches instead of taking an undefined trap.
        if constexpr (H1) r[14] = (pc + 2) | 1;
        if (!(target & 1)) set_state(e, false);
        return target & ~1u;
    } else {
        const u32 result = Op == 0 ? r[rd] + r[rs] : r[rs];
        if (rd == 15) return result & ~1u;
        r[rd] = result;
        return pc + 2;
    }
}

// Single transfers: the access comes first and changes nothing when it
// misses the fast path (A::kFast); the instruction is then executed again by
// its slow twin.
#define TARVEL_THUMB_RETRY_SLOW(handler, ...)                                        \
    if constexpr (A::kFast) {                                                      \
        if (!done) [[unlikely]]                                                    \
            return defer_to_slow_twin<&handler<__VA_ARGS__, SlowAccess>>(e);        \
    }

template <u32 Rd, typename A>
TARVEL_HOT u32 thumb_pc_load(Exec& e, u32 inst, u32 pc) {
    u32 value;
    const bool done = A::load_word(e, ((pc + 4) & ~3u) + (inst & 0xFF) * 4, value);
    TARVEL_THUMB_RETRY_SLOW(thumb_pc_load, Rd)
    e.regs.r[Rd] = value;
    return pc + 2;
}

// Op: 0 STR, 1 STRB, 2 LDR, 3 LDRB (register offset).
template <u32 Op, u32 Ro, typename A>
TARVEL_HOT u32 thumb_transfer_register(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 address = r[bits(inst, 3, 3)] + r[Ro];
    const u32 rd = inst & 7;
    u32 value = 0;
    bool done;
    if constexpr (Op == 0) done = A::store_word(e, address, r[rd]);
    if constexpr (Op == 1) done = A::store_byte(e, address, r[rd]);
    if constexpr (Op == 2) done = A::load_word(e, address, value);
    if constexpr (Op == 3) done = A::load_byte(e, address, value);
    TARVEL_THUMB_RETRY_SLOW(thumb_transfer_register, Op, Ro)
    if constexpr (Op >= 2) r[rd] = value;
    return pc + 2;
}

// Op: 0 STRH, 1 LDSB, 2 LDRH, 3 LDSH (bits 11..10 are H and S).
template <u32 Op, u32 Ro, typename A>
TARVEL_HOT u32 thumb_transfer_signed(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 address = r[bits(inst, 3, 3)] + r[Ro];
    const u32 rd = inst & 7;
    u32 value = 0;
    bool done;
    if constexpr (Op == 0) done = A::store_half(e, address, r[rd]);
    if constexpr (Op == 1) done = A::load_signed_byte(e, address, value);
    if constexpr (Op == 2) done = A::load_half(e, address, value);
    if constexpr (Op == 3) done = A::load_signed_half(e, address, value);
    TARVEL_THUMB_RETRY_SLOW(thumb_transfer_signed, Op, Ro)
    if constexpr (Op != 0) r[rd] = value;
    return pc + 2;
}

template <bool Byte, bool Load, u32 Imm, typename A>
TARVEL_HOT u32 thumb_transfer_immediate(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 address = r[bits(inst, 3, 3)] + (Byte ? Imm : Imm * 4);
    const u32 rd = inst & 7;
    u32 value = 0;
    bool done;
    if constexpr (Load) {
        done = Byte ? A::load_byte(e, address, value) : A::load_word(e, address, value);
    } else if constexpr (Byte) {
        done = A::store_byte(e, address, r[rd]);
    } else {
        done = A::store_word(e, address, r[rd]);
    }
    TARVEL_THUMB_RETRY_SLOW(thumb_transfer_immediate, Byte, Load, Imm)
    if constexpr (Load) r[rd] = value;
    return pc + 2;
}

template <bool Load, u32 Imm, typename A>
TARVEL_HOT u32 thumb_transfer_half(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 address = r[bits(inst, 3, 3)] + Imm * 2;
    u32 value = 0;
    bool done;
    if constexpr (Load) {
        done = A::load_half(e, address, value);
    } else {
        done = A::store_half(e, address, r[inst & 7]);
    }
    TARVEL_THUMB_RETRY_SLOW(thumb_transfer_half, Load, Imm)
    if constexpr (Load) r[inst & 7] = value;
    return pc + 2;
}

template <bool Load, u32 Rd, typename A>
TARVEL_HOT u32 thumb_sp_transfer(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 address = r[13] + (inst & 0xFF) * 4;
    u32 value = 0;
    bool done;
    if constexpr (Load) {
        done = A::load_word(e, address, value);
    } else {
        done = A::store_word(e, address, r[Rd]);
    }
    TARVEL_THUMB_RETRY_SLOW(thumb_sp_transfer, Load, Rd)
    if constexpr (Load) r[Rd] = value;
    return pc + 2;
}
#undef TARVEL_THUMB_RETRY_SLOW

template <bool FromSp, u32 Rd>
TARVEL_HOT u32 thumb_load_address(Exec& e, u32 inst, u32 pc) {
    const u32 base = FromSp ? e.regs.r[13] : ((pc + 4) & ~3u);
    e.regs.r[Rd] = base + (inst & 0xFF) * 4;
    return pc + 2;
}

template <bool Negative>
TARVEL_HOT u32 thumb_sp_add(Exec& e, u32 inst, u32 pc) {
    const u32 offset = (inst & 0x7F) * 4;
    e.regs.r[13] = Negative ? e.regs.r[13] - offset : e.regs.r[13] + offset;
    return pc + 2;
}

// PUSH stores the low registers and optionally lr below sp; POP loads them and
// optionally the pc (bit 0 cleared, staying in Thumb state). An empty list moves
// r15 alone and sp by 64 bytes, as block transfers do in ARM state.
template <bool Pop, bool Extra, typename A>
TARVEL_HOT u32 thumb_push_pop(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 list = inst & 0xFF;
    u32 next = pc + 2;
    if constexpr (Pop) {
        u32 address = r[13];
        if (list == 0 && !Extra) {
            next = e.mem.read32(address & ~3u) & ~1u;
            r[13] = address + 0x40;
            return next;
        }
        const u32 loaded_pc = load_block<Extra, A>(e, r, list, address);
        if constexpr (Extra) next = loaded_pc & ~1u;
        r[13] = address;
    } else {
        if (list == 0 && !Extra) {
            r[13] -= 0x40;
            guard_code(e, r[13] & ~3u);
            e.mem.write32(r[13] & ~3u, r[15]);
            return next;
        }
        const u32 count = register_count(list) + (Extra ? 1 : 0);
        const u32 address = r[13] - count * 4;
        r[13] = address;
        // lr goes above the low registers.
        store_block<Extra, A>(e, r, list, address, r[14]);
    }
    return next;
}

// LDMIA/STMIA rb!. Base in the list: a load keeps the loaded value; a store
// writes the original base (the write-back comes after the stores).
// An empty list moves r15 and adds 64 to the base.
template <bool Load, u32 Rb, typename A>
TARVEL_HOT u32 thumb_block_transfer(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    const u32 list = inst & 0xFF;
    u32 address = r[Rb];
    u32 next = pc + 2;
    if (list == 0) {
        if constexpr (Load) {
            next = e.mem.read32(address & ~3u) & ~1u;
        } else {
            guard_code(e, address & ~3u);
            e.mem.write32(address & ~3u, r[15]);
        }
        r[Rb] = address + 0x40;
        return next;
    }
    const u32 new_base = address + register_count(list) * 4;
    if constexpr (Load) {
        r[Rb] = new_base;
        load_block<false, A>(e, r, list, address);
    } else {
        store_block<false, A>(e, r, list, address, 0);
        r[Rb] = new_base;
    }
    return next;
}

u32 thumb_undefined(Exec& e, u32, u32 pc) { return enter_undefined(e, pc + 2); }
u32 thumb_software_interrupt(Exec& e, u32, u32 pc) { return enter_software_interrupt(e, pc + 2); }

template <u32 Cond>
TARVEL_HOT u32 thumb_conditional_branch(Exec& e, u32 inst, u32 pc) {
    if (!condition_passes<Cond>(e.regs)) return pc + 2;
    return pc + 4 + static_cast<u32>(static_cast<i32>(static_cast<i8>(inst & 0xFF)) * 2);
}

u32 thumb_branch(Exec&, u32 inst, u32 pc) {
    return pc + 4 + static_cast<u32>(static_cast<i32>(inst << 21) >> 20);
}

// The BLX pair (prefix at pc, suffix 0xE800 | imm11 after it): lr = the
// address after the pair with bit 0 set, ARM state, target word-aligned.
u32 thumb_branch_link_to_arm(Exec& e, u32 suffix, u32 pc) {
    u32* r = e.regs.r;
    const u32 target = r[14] + (suffix & 0x7FF) * 2;
    r[14] = (pc + 4) | 1;
    set_state(e, false);
    return target & ~3u;
}

// BL in two halves: the first puts the upper part of the offset into lr, the
// second branches to lr plus the lower part and leaves the return address in lr.
template <bool Second, typename A>
TARVEL_HOT u32 thumb_long_branch(Exec& e, u32 inst, u32 pc) {
    u32* r = e.regs.r;
    if constexpr (!Second) {
        r[14] = pc + 4 + static_cast<u32>(static_cast<i32>(inst << 21) >> 9);
        // A prefix followed by the 0xE800 suffix is BLX to ARM code; the pair
        // executes as one instruction, as a supervisor stepping it sees it.
        u32 suffix;
        if (!A::load_half(e, pc + 2, suffix)) [[unlikely]] suffix = e.mem.read16(pc + 2);
        if ((suffix & 0xF800) == 0xE800) [[unlikely]] return thumb_branch_link_to_arm(e, suffix, pc);
        return pc + 2;
    } else {
        const u32 target = r[14] + (inst & 0x7FF) * 2;
        r[14] = (pc + 2) | 1;
        return target & ~1u;
    }
}

template <u32 Key, typename A>
TARVEL_HOT u32 thumb_execute(Exec& e, u32 inst, u32 pc) {
    constexpr ThumbClass C = kThumbClassTable.entries[Key];
    constexpr u32 kTop = Key << 6;  // the instruction's bits 15..6, bits 5..0 clear
    if constexpr (C == ThumbClass::Shifted) {
        return thumb_shifted<bits(kTop, 11, 2), bits(kTop, 6, 5)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::AddSub) {
        return thumb_add_subtract<bits(kTop, 10, 1), bits(kTop, 9, 1), bits(kTop, 6, 3)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::ImmOp) {
        return thumb_immediate<bits(kTop, 11, 2), bits(kTop, 8, 3)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::AluOp) {
        return thumb_alu<bits(kTop, 6, 4)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::HiRegBx) {
        return thumb_high_register<bits(kTop, 8, 2), bits(kTop, 7, 1), bits(kTop, 6, 1)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::PcLoad) {
        return thumb_pc_load<bits(kTop, 8, 3), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::SingleXferR) {
        return thumb_transfer_register<bits(kTop, 10, 2), bits(kTop, 6, 3), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::HwSgnXfer) {
        return thumb_transfer_signed<bits(kTop, 10, 2), bits(kTop, 6, 3), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::SingleXferI) {
        return thumb_transfer_immediate<bits(kTop, 12, 1), bits(kTop, 11, 1), bits(kTop, 6, 5), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::HwXferI) {
        return thumb_transfer_half<bits(kTop, 11, 1), bits(kTop, 6, 5), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::SpXfer) {
        return thumb_sp_transfer<bits(kTop, 11, 1), bits(kTop, 8, 3), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::LoadAddr) {
        return thumb_load_address<bits(kTop, 11, 1), bits(kTop, 8, 3)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::SpAdd) {
        return thumb_sp_add<bits(kTop, 7, 1)>(e, inst, pc);
    } else if constexpr (C == ThumbClass::PushPop) {
        return thumb_push_pop<bits(kTop, 11, 1), bits(kTop, 8, 1), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::BlockXfer) {
        return thumb_block_transfer<bits(kTop, 11, 1), bits(kTop, 8, 3), A>(e, inst, pc);
    } else if constexpr (C == ThumbClass::SoftwareInt) {
        return thumb_software_interrupt(e, inst, pc);
    } else if constexpr (C == ThumbClass::CondBranch) {
        // Condition 1110 is undefined in Thumb state (1111 is the software interrupt).
        if constexpr (bits(kTop, 8, 4) == 0xE) {
            return thumb_undefined(e, inst, pc);
        } else {
            return thumb_conditional_branch<bits(kTop, 8, 4)>(e, inst, pc);
        }
    } else if constexpr (C == ThumbClass::Branch) {
        return thumb_branch(e, inst, pc);
    } else if constexpr (C == ThumbClass::LongBranch) {
        return thumb_long_branch<bits(kTop, 11, 1), A>(e, inst, pc);
    } else {
        return thumb_undefined(e, inst, pc);
    }
}

// ---------------------------------------------------------------- run-table stops

u32 stop_before(Exec& e, u32, u32 pc) {
    e.event |= kEventSpecial;
    return pc;
}

// Handlers that touch memory come in one version per byte order; the others
// share the little-endian one.
constexpr bool thumb_uses_memory(ThumbClass c) {
    return c == ThumbClass::PcLoad || c == ThumbClass::SingleXferR || c == ThumbClass::HwSgnXfer ||
           c == ThumbClass::SingleXferI || c == ThumbClass::HwXferI || c == ThumbClass::SpXfer ||
           c == ThumbClass::PushPop || c == ThumbClass::BlockXfer || c == ThumbClass::LongBranch;
}
template <u32 Key, bool BigEndian>
using ThumbAccess = FastAccess<BigEndian && thumb_uses_memory(kThumbClassTable.entries[Key])>;

template <u32 Key, typename A>
u32 thumb_execute_checked(Exec& e, u32 inst, u32 pc) {
    if (inst == kThumbIdleLoop) return stop_before(e, inst, pc);
    return thumb_execute<Key, A>(e, inst, pc);
}

template <u32 Key, bool BigEndian>
constexpr OpHandler thumb_run_handler() {
    constexpr ThumbClass C = kThumbClassTable.entries[Key];
    constexpr u32 kTop = Key << 6;
    if constexpr (C == ThumbClass::SoftwareInt) {
        return &thumb_op<&stop_before>;
    } else if constexpr (C == ThumbClass::Branch && kTop == (kThumbIdleLoop & 0xFFC0)) {
        return &thumb_op<&thumb_execute_checked<Key, ThumbAccess<Key, BigEndian>>>;
    } else {
        return &thumb_op<&thumb_execute<Key, ThumbAccess<Key, BigEndian>>>;
    }
}

template <bool BigEndian, u32... Keys>
constexpr std::array<OpHandler, 1024> make_step_table(std::integer_sequence<u32, Keys...>) {
    return {&thumb_op<&thumb_execute<Keys, ThumbAccess<Keys, BigEndian>>>...};
}
template <bool BigEndian, u32... Keys>
constexpr std::array<OpHandler, 1024> make_run_table(std::integer_sequence<u32, Keys...>) {
    return {thumb_run_handler<Keys, BigEndian>()...};
}

}  // namespace

namespace detail {
const std::array<OpHandler, 1024> kThumbStepHandlers[2] = {
    make_step_table<false>(std::make_integer_sequence<u32, 1024>{}),
    make_step_table<true>(std::make_integer_sequence<u32, 1024>{}),
};
const std::array<OpHandler, 1024> kThumbRunHandlers[2] = {
    make_run_table<false>(std::make_integer_sequence<u32, 1024>{}),
    make_run_table<true>(std::make_integer_sequence<u32, 1024>{}),
};
}  // namespace detail

}  // namespace tarvel::armv4t
