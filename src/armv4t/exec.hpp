#pragma once
// What instruction handlers share: the execution context, condition codes, the
// barrel shifter and the unaligned-access rules. Internal to the interpreter.
//
// Handler convention: while an instruction that may read r15 as an operand
// executes, r[15] holds its address + 8 (ARM) or + 4 (Thumb), which is what such
// reads see; step() and the single instructions of the run loop always set it,
// decoded blocks only for the instructions that may read it (see
// BlockCache::decode), since most never do. The handler returns the address
// of the next instruction; the caller stores it in r[15].
// A handler that changes the state or mode, or meets an undefined instruction,
// also sets `event` so that a fast loop re-examines the state.

#include "armv4t/reg.hpp"
#include "memory/guest_memory.hpp"

// Small helpers of the hot path are always inlined into the handlers.
#define TARVEL_HOT [[gnu::always_inline]] inline

namespace tarvel::armv4t {

enum ExecEvent : u32 {
    kEventNone = 0,
    kEventStateChange = 1,  // T bit or mode may have changed
    kEventUndefined = 2,    // the undefined-instruction exception was entered
    kEventSpecial = 4,      // (run tables only) stopped before the instruction
    kEventCodeWritten = 8,  // a store reached code the run loop has decoded
    kEventSlowTwin = 16,    // an access missed the fast path: Exec::slow_twin runs the instruction
};

struct DecodedOp;
struct Exec;
using Handler = u32 (*)(Exec& e, u32 inst, u32 pc);

struct Exec {
    RegisterFile& regs;
    machine::GuestMemory& mem;
    u32 event = kEventNone;
    // The guest byte order, fixed while instructions execute; kept here so that
    // hot handlers test it without going through the memory object.
    bool big_endian = mem.big_endian();
    // The fast-path read table, fixed while instructions execute (regions do
    // not change under a handler): a hot load is then one page lookup away
    // from the guest bytes.
    const u8* const* read_pages = mem.read_page_table();
    // The fast-path write table, also fixed while instructions execute (its
    // entries are not: the write watch changes them, so each access reads one).
    u8* const* write_pages = mem.write_page_table();
    // The span of the code the run loop has decoded blocks from (see
    // BlockCache): a store that starts at an address in [code_guard_begin,
    // code_guard_begin + code_guard_bytes) sets kEventCodeWritten, so that the
    // loop leaves the block it runs and compares the code again. The span
    // reaches 64 bytes (the longest store) below the code, so that every
    // store overlapping it starts inside.
    u32 code_guard_begin = 0;
    u32 code_guard_bytes = 0;
    // The instruction that ended the last run of decoded instructions (see OpHandler).
    const DecodedOp* stopped_at = nullptr;
    // With kEventSlowTwin: the handler that executes the instruction again
    // with every access through the memory (see defer_to_slow_twin).
    Handler slow_twin = nullptr;
};

// Every guest store passes here with its lowest address.
TARVEL_HOT void guard_code(Exec& e, u32 address) {
    if (address - e.code_guard_begin < e.code_guard_bytes) [[unlikely]] e.event |= kEventCodeWritten;
}

// Host pointer of the byte at `address` when its page is on the fast path, else
// nullptr. Aligned halfwords and words never cross a page, so the pointer of
// their first byte serves the whole value.
TARVEL_HOT const u8* fast_read_at(const Exec& e, u32 address) {
    const u8* page = e.read_pages[address >> machine::GuestMemory::kPageBits];
    return page ? page + (address & machine::GuestMemory::kPageMask) : nullptr;
}
TARVEL_HOT u8* fast_write_at(Exec& e, u32 address) {
    guard_code(e, address);
    u8* page = e.write_pages[address >> machine::GuestMemory::kPageBits];
    return page ? page + (address & machine::GuestMemory::kPageMask) : nullptr;
}
// As GuestMemory::fast_read_span / fast_write_span, through the kept tables.
TARVEL_HOT const u8* fast_read_block(const Exec& e, u32 address, u32 length) {
    const u8* page = e.read_pages[address >> machine::GuestMemory::kPageBits];
    return page && (address & machine::GuestMemory::kPageMask) + length <= machine::GuestMemory::kPageSize
               ? page + (address & machine::GuestMemory::kPageMask)
               : nullptr;
}
TARVEL_HOT u8* fast_write_block(Exec& e, u32 address, u32 length) {
    guard_code(e, address);
    u8* page = e.write_pages[address >> machine::GuestMemory::kPageBits];
    return page && (address & machine::GuestMemory::kPageMask) + length <= machine::GuestMemory::kPageSize
               ? page + (address & machine::GuestMemory::kPageMask)
               : nullptr;
}

template <bool BigEndian>
TARVEL_HOT u32 host_load32(const u8* p) { return BigEndian ? load_be32(p) : load_le32(p); }
template <bool BigEndian>
TARVEL_HOT u32 host_load16(const u8* p) { return BigEndian ? load_be16(p) : load_le16(p); }
template <bool BigEndian>
TARVEL_HOT void host_store32(u8* p, u32 value) { BigEndian ? store_be32(p, value) : store_le32(p, value); }
template <bool BigEndian>
TARVEL_HOT void host_store16(u8* p, u32 value) {
    BigEndian ? store_be16(p, static_cast<u16>(value)) : store_le16(p, static_cast<u16>(value));
}

// When an access misses the fast path, a handler that has changed nothing
// yet hands the instruction to its slow twin: it names the twin and returns
// at once, and the dispatch after it (run_next) calls the twin out of line.
// The hot handler thus makes no call of its own and keeps its values in
// registers that need no saving.
template <Handler Slow>
TARVEL_HOT u32 defer_to_slow_twin(Exec& e) {
    e.slow_twin = Slow;
    e.event |= kEventSlowTwin;
    return 0;
}

// Bit f of entry c is set when condition c passes with NZCV = f.
struct ConditionTable {
    u16 pass[16]{};
    constexpr ConditionTable() {
        for (u32 f = 0; f < 16; ++f) {
            const bool n = f & 8, z = f & 4, c = f & 2, v = f & 1;
            const bool results[16] = {z,  !z, c,          !c,     n,      !n,           v,    !v,
                                      c && !z, !c || z, n == v, n != v, !z && n == v, z || n != v, true, false};
            for (u32 cond = 0; cond < 16; ++cond)
                if (results[cond]) pass[cond] |= static_cast<u16>(1u << f);
        }
    }
};
inline constexpr ConditionTable kConditions{};
TARVEL_HOT bool condition_passes(u32 cond, u32 cpsr) { return (kConditions.pass[cond] >> (cpsr >> 28)) & 1; }
// A condition from the flags it needs; `Cond` known when compiling.
template <u32 Cond>
TARVEL_HOT bool condition_passes(const RegisterFile& regs) {
    if constexpr (Cond == 0x0) return regs.flag_z();
    else if constexpr (Cond == 0x1) return !regs.flag_z();
    else if constexpr (Cond == 0x2) return regs.flag_c();
    else if constexpr (Cond == 0x3) return !regs.flag_c();
    else if constexpr (Cond == 0x4) return regs.flag_n();
    else if constexpr (Cond == 0x5) return !regs.flag_n();
    else if constexpr (Cond == 0x6) return regs.flag_v();
    else if constexpr (Cond == 0x7) return !regs.flag_v();
    else if constexpr (Cond == 0x8) return regs.flag_c() && !regs.flag_z();
    else if constexpr (Cond == 0x9) return !regs.flag_c() || regs.flag_z();
    else if constexpr (Cond == 0xA) return regs.flag_n() == regs.flag_v();
    else if constexpr (Cond == 0xB) return regs.flag_n() != regs.flag_v();
    else if constexpr (Cond == 0xC) return !regs.flag_z() && regs.flag_n() == regs.flag_v();
    else if constexpr (Cond == 0xD) return regs.flag_z() || regs.flag_n() != regs.flag_v();
    else return Cond == 0xE;
}
TARVEL_HOT bool condition_passes(u32 cond, const RegisterFile& regs) {
    switch (cond & 15) {
        case 0x0: return condition_passes<0x0>(regs);
        case 0x1: return condition_passes<0x1>(regs);
        case 0x2: return condition_passes<0x2>(regs);
        case 0x3: return condition_passes<0x3>(regs);
        case 0x4: return condition_passes<0x4>(regs);
        case 0x5: return condition_passes<0x5>(regs);
        case 0x6: return condition_passes<0x6>(regs);
        case 0x7: return condition_passes<0x7>(regs);
        case 0x8: return condition_passes<0x8>(regs);
        case 0x9: return condition_passes<0x9>(regs);
        case 0xA: return condition_passes<0xA>(regs);
        case 0xB: return condition_passes<0xB>(regs);
        case 0xC: return condition_passes<0xC>(regs);
        case 0xD: return condition_passes<0xD>(regs);
        case 0xE: return true;
        default: return false;
    }
}

// Number of registers in a 16-bit list, without relying on a popcount
// instruction being enabled for the host.
struct RegisterCountTable {
    u8 count[256]{};
    constexpr RegisterCountTable() {
        for (u32 i = 1; i < 256; ++i) count[i] = static_cast<u8>(count[i >> 1] + (i & 1));
    }
};
inline constexpr RegisterCountTable kRegisterCounts{};
TARVEL_HOT u32 register_count(u32 list) { return kRegisterCounts.count[list & 0xFF] + kRegisterCounts.count[(list >> 8) & 0xFF]; }

TARVEL_HOT u32 ror32(u32 value, u32 amount) {
    amount &= 31;
    return amount ? (value >> amount) | (value << (32 - amount)) : value;
}

// Flag updates: N and Z come from a result (RegisterFile::set_nz), C and V
// from what the host computed.
TARVEL_HOT u32 nz_of(u32 result) { return (result & kFlagN) | (result == 0 ? kFlagZ : 0); }

// Carry and overflow are words, not bools: a struct of a word and two bools
// is handled as one 64-bit value, and the flags then go through shifts and ORs.
struct AddResult {
    u32 value;
    u32 carry;
    u32 overflow;
};
// Sets all four flags from an addition or subtraction.
TARVEL_HOT void set_flags_of(RegisterFile& regs, const AddResult& sum) {
    regs.set_nzcv(sum.value, sum.carry, sum.overflow);
}
// a + b and a - b (carry = no borrow), from the host's own carry and overflow.
TARVEL_HOT AddResult add_flags(u32 a, u32 b) {
    u32 value;
    i32 ignored;
    const bool carry = __builtin_add_overflow(a, b, &value);
    const bool overflow = __builtin_add_overflow(static_cast<i32>(a), static_cast<i32>(b), &ignored);
    return {value, carry, overflow};
}
TARVEL_HOT AddResult sub_flags(u32 a, u32 b) {
    u32 value;
    i32 ignored;
    const bool carry = !__builtin_sub_overflow(a, b, &value);
    const bool overflow = __builtin_sub_overflow(static_cast<i32>(a), static_cast<i32>(b), &ignored);
    return {value, carry, overflow};
}
// a + b + carry_in.
TARVEL_HOT AddResult add_with_flags(u32 a, u32 b, u32 carry_in) {
    const u64 wide = u64{a} + b + carry_in;
    const u32 value = static_cast<u32>(wide);
    return {value, (wide >> 32) != 0, ((~(a ^ b) & (a ^ value)) >> 31) != 0};
}
// a - b - !carry_in as the ARM computes it: a + ~b + carry_in.
TARVEL_HOT AddResult sub_with_flags(u32 a, u32 b, u32 carry_in) { return add_with_flags(a, ~b, carry_in); }

// Immediate shifts (amount 0..31 as encoded; 0 stands for 32 with LSR/ASR and
// for RRX with ROR). `carry` is the C flag in and the shifter carry out.
template <u32 Type>
TARVEL_HOT u32 shift_by_immediate(u32 value, u32 amount, u32& carry) {
    if constexpr (Type == 0) {  // LSL
        if (amount == 0) return value;
        carry = (value >> (32 - amount)) & 1;
        return value << amount;
    } else if constexpr (Type == 1) {  // LSR
        if (amount == 0) {
            carry = value >> 31;
            return 0;
        }
        carry = (value >> (amount - 1)) & 1;
        return value >> amount;
    } else if constexpr (Type == 2) {  // ASR
        if (amount == 0) {
            carry = value >> 31;
            return static_cast<u32>(static_cast<i32>(value) >> 31);
        }
        carry = (value >> (amount - 1)) & 1;
        return static_cast<u32>(static_cast<i32>(value) >> amount);
    } else {  // ROR, RRX
        if (amount == 0) {
            const u32 out = (carry << 31) | (value >> 1);
            carry = value & 1;
            return out;
        }
        carry = (value >> (amount - 1)) & 1;
        return ror32(value, amount);
    }
}

// Register-specified shifts: the bottom byte of the register is the amount.
template <u32 Type>
TARVEL_HOT u32 shift_by_register(u32 value, u32 amount, u32& carry) {
    amount &= 0xFF;
    if (amount == 0) return value;
    if constexpr (Type == 0) {
        if (amount < 32) {
            carry = (value >> (32 - amount)) & 1;
            return value << amount;
        }
        carry = amount == 32 ? (value & 1) : 0;
        return 0;
    } else if constexpr (Type == 1) {
        if (amount < 32) {
            carry = (value >> (amount - 1)) & 1;
            return value >> amount;
        }
        carry = amount == 32 ? (value >> 31) : 0;
        return 0;
    } else if constexpr (Type == 2) {
        if (amount < 32) {
            carry = (value >> (amount - 1)) & 1;
            return static_cast<u32>(static_cast<i32>(value) >> amount);
        }
        carry = value >> 31;
        return static_cast<u32>(static_cast<i32>(value) >> 31);
    } else {
        amount &= 31;
        if (amount == 0) {
            carry = value >> 31;
            return value;
        }
        carry = (value >> (amount - 1)) & 1;
        return ror32(value, amount);
    }
}

inline u32 shift_by_register(u32 type, u32 value, u32 amount, u32& carry) {
    switch (type & 3) {
        case 0: return shift_by_register<0>(value, amount, carry);
        case 1: return shift_by_register<1>(value, amount, carry);
        case 2: return shift_by_register<2>(value, amount, carry);
        default: return shift_by_register<3>(value, amount, carry);
    }
}

// Word loads read the aligned word and rotate it so that the addressed byte
// comes first; word stores use the aligned address; halfwords ignore bit 0.
TARVEL_HOT u32 load_word_rotated(machine::GuestMemory& mem, u32 address) {
    return ror32(mem.read32(address & ~3u), (address & 3) * 8);
}
TARVEL_HOT void store_word_aligned(machine::GuestMemory& mem, u32 address, u32 value) { mem.write32(address & ~3u, value); }
TARVEL_HOT u32 load_half(machine::GuestMemory& mem, u32 address) { return mem.read16(address & ~1u); }
TARVEL_HOT u32 load_signed_half(machine::GuestMemory& mem, u32 address) {
    return static_cast<u32>(static_cast<i32>(static_cast<i16>(mem.read16(address & ~1u))));
}
TARVEL_HOT u32 load_signed_byte(machine::GuestMemory& mem, u32 address) {
    return static_cast<u32>(static_cast<i32>(static_cast<i8>(mem.read8(address))));
}
TARVEL_HOT void store_half(machine::GuestMemory& mem, u32 address, u32 value) {
    mem.write16(address & ~1u, static_cast<u16>(value));
}

// Memory access policies of the handlers that load and store. Each access
// returns false when it did not happen; a handler then changes nothing and
// hands the whole instruction to its slow twin (defer_to_slow_twin, SlowAccess).
//  - FastAccess<BigEndian>: fast pages only, the byte order a constant;
//  - SlowAccess: every access through GuestMemory (unmapped and read-only
//    cases, the write watch), the byte order as the memory has it; never fails.
template <bool BigEndian>
struct FastAccess {
    static constexpr bool kFast = true;
    static constexpr bool kBigEndian = BigEndian;
    TARVEL_HOT static bool load_word(Exec& e, u32 address, u32& out) {
        const u8* host = fast_read_at(e, address & ~3u);
        if (!host) return false;
        out = ror32(host_load32<BigEndian>(host), (address & 3) * 8);
        return true;
    }
    TARVEL_HOT static bool load_byte(Exec& e, u32 address, u32& out) {
        const u8* host = fast_read_at(e, address);
        if (!host) return false;
        out = *host;
        return true;
    }
    TARVEL_HOT static bool load_signed_byte(Exec& e, u32 address, u32& out) {
        const u8* host = fast_read_at(e, address);
        if (!host) return false;
        out = static_cast<u32>(static_cast<i32>(static_cast<i8>(*host)));
        return true;
    }
    TARVEL_HOT static bool load_half(Exec& e, u32 address, u32& out) {
        const u8* host = fast_read_at(e, address & ~1u);
        if (!host) return false;
        out = host_load16<BigEndian>(host);
        return true;
    }
    TARVEL_HOT static bool load_signed_half(Exec& e, u32 address, u32& out) {
        const u8* host = fast_read_at(e, address & ~1u);
        if (!host) return false;
        out = static_cast<u32>(static_cast<i32>(static_cast<i16>(host_load16<BigEndian>(host))));
        return true;
    }
    TARVEL_HOT static bool store_word(Exec& e, u32 address, u32 value) {
        u8* host = fast_write_at(e, address & ~3u);
        if (!host) return false;
        host_store32<BigEndian>(host, value);
        return true;
    }
    TARVEL_HOT static bool store_byte(Exec& e, u32 address, u32 value) {
        u8* host = fast_write_at(e, address);
        if (!host) return false;
        *host = static_cast<u8>(value);
        return true;
    }
    TARVEL_HOT static bool store_half(Exec& e, u32 address, u32 value) {
        u8* host = fast_write_at(e, address & ~1u);
        if (!host) return false;
        host_store16<BigEndian>(host, value);
        return true;
    }
};

template <typename A>
TARVEL_HOT bool guest_big_endian(const Exec& e) {
    if constexpr (A::kFast) {
        return A::kBigEndian;
    } else {
        return e.big_endian;
    }
}

struct SlowAccess {
    static constexpr bool kFast = false;
    TARVEL_HOT static bool load_word(Exec& e, u32 address, u32& out) {
        out = load_word_rotated(e.mem, address);
        return true;
    }
    TARVEL_HOT static bool load_byte(Exec& e, u32 address, u32& out) {
        out = e.mem.read8(address);
        return true;
    }
    TARVEL_HOT static bool load_signed_byte(Exec& e, u32 address, u32& out) {
        out = armv4t::load_signed_byte(e.mem, address);
        return true;
    }
    TARVEL_HOT static bool load_half(Exec& e, u32 address, u32& out) {
        out = armv4t::load_half(e.mem, address);
        return true;
    }
    TARVEL_HOT static bool load_signed_half(Exec& e, u32 address, u32& out) {
        out = armv4t::load_signed_half(e.mem, address);
        return true;
    }
    TARVEL_HOT static bool store_word(Exec& e, u32 address, u32 value) {
        guard_code(e, address & ~3u);
        store_word_aligned(e.mem, address, value);
        return true;
    }
    TARVEL_HOT static bool store_byte(Exec& e, u32 address, u32 value) {
        guard_code(e, address);
        e.mem.write8(address, static_cast<u8>(value));
        return true;
    }
    TARVEL_HOT static bool store_half(Exec& e, u32 address, u32 value) {
        guard_code(e, address & ~1u);
        armv4t::store_half(e.mem, address, value);
        return true;
    }
};

// Exceptions, as this system enters them (see cpu.cpp).
u32 enter_undefined(Exec& e, u32 return_address);
u32 enter_software_interrupt(Exec& e, u32 return_address);
// CPSR writes that may switch mode or state; they flag the event.
void write_cpsr(Exec& e, u32 value);
// Enters Thumb or ARM state (BX, BLX); a change is an event for the run loop.
TARVEL_HOT void set_state(Exec& e, bool thumb) {
    if (e.regs.thumb() == thumb) return;
    e.regs.set_thumb(thumb);
    e.event |= kEventStateChange;
}
// Condition 0xF: BLX to Thumb code, anything else does nothing (see cpu.cpp).
u32 arm_condition_never(Exec& e, u32 inst, u32 pc);
// MRC and MCR: no coprocessor is present (see cpu.cpp).
u32 arm_coprocessor_transfer(Exec& e, u32 inst, u32 pc);

// ---------------------------------------------------------------- decoded instructions

// Runs the instruction `op` (at `pc`) and, unless it is the last of its block
// or raised an event, the ones that follow it: each calls the next itself (as
// a tail call), so that every instruction has a dispatch of its own for the
// host's branch prediction and no loop runs between two instructions. Returns
// where execution continues after the instruction that stopped, which is left
// in Exec::stopped_at.
using OpHandler = u32 (*)(Exec& e, const DecodedOp* op, u32 pc);

struct DecodedOp {
    OpHandler handler;
    u32 inst;
    u32 last;  // nonzero for the last instruction of a block, or one run alone
    // What a handler made for one decoded form takes ready-made instead of
    // working it out from `inst` each time (see block_ops.hpp); zero otherwise.
    u64 operands = 0;
};

template <u32 Size>
[[gnu::noinline, gnu::cold]] u32 run_slow_twin(Exec& e, const DecodedOp* op, u32 pc);

template <u32 Size>
TARVEL_HOT u32 run_next(Exec& e, const DecodedOp* op, u32 pc, u32 next) {
    if ((op->last | e.event) != 0) [[unlikely]] {
        if (e.event & kEventSlowTwin) return run_slow_twin<Size>(e, op, pc);
        e.stopped_at = op;
        return next;
    }
    return op[1].handler(e, op + 1, pc + Size);
}

// The instruction `op` once more, by the slow twin its handler named, and on.
template <u32 Size>
u32 run_slow_twin(Exec& e, const DecodedOp* op, u32 pc) {
    e.event &= ~kEventSlowTwin;
    return run_next<Size>(e, op, pc, e.slow_twin(e, op->inst, pc));
}

// The OpHandler of a Thumb handler.
template <Handler H>
u32 thumb_op(Exec& e, const DecodedOp* op, u32 pc) {
    return run_next<2>(e, op, pc, H(e, op->inst, pc));
}

// An ARM instruction whose condition failed, or of condition "never" (see
// arm_condition_never): out of line, so that the handlers stay free of calls
// and save no registers.
[[gnu::noinline]] u32 arm_skipped_op(Exec& e, const DecodedOp* op, u32 pc);
[[gnu::noinline]] u32 arm_never_op(Exec& e, const DecodedOp* op, u32 pc);

// The OpHandler of an ARM handler: the condition decides whether it runs.
template <Handler H>
u32 arm_op(Exec& e, const DecodedOp* op, u32 pc) {
    const u32 inst = op->inst;
    if (inst - 0xE0000000u >= 0x10000000u) [[unlikely]] {  // one test for "always"
        if (inst >= 0xF0000000u) return arm_never_op(e, op, pc);
        if (!condition_passes(inst >> 28, e.regs)) return arm_skipped_op(e, op, pc);
    }
    return run_next<4>(e, op, pc, H(e, inst, pc));
}

// Branch-to-self words: the guest's idle loop.
inline constexpr u32 kArmIdleLoop = 0xEAFFFFFE;
inline constexpr u16 kThumbIdleLoop = 0xE7FE;

}  // namespace tarvel::armv4t
