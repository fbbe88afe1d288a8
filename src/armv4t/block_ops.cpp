#include "armv4t/block_ops.hpp"

#include <array>
#include <bit>
#include <utility>

#include "armv4t/cpu.hpp"
#include "armv4t/decode_table.hpp"

namespace tarvel::armv4t {

u64 register_order(u32 list) {
    u64 order = 0;
    u32 k = 0;
    for (u32 n = 0; n < 16; ++n)
        if (list & (1u << n)) order |= u64{n} << (4 * k++);
    return order;
}

namespace {

// Where the base register is named.
enum class Base : u8 {
    Arm,        // ARM: bits 19..16
    ThumbList,  // Thumb LDMIA/STMIA: bits 10..8
    ThumbStack, // Thumb PUSH/POP: sp
};

// The number of the K-th listed register, read from the op a byte (two
// numbers) at a time: one load and one shift or mask each.
template <u32 K>
TARVEL_HOT u32 listed_register(const DecodedOp* op) {
    const u8* order = reinterpret_cast<const u8*>(&op->operands);
    constexpr u32 kByte = std::endian::native == std::endian::little ? K / 2 : 7 - K / 2;
    return K % 2 ? order[kByte] >> 4 : order[kByte] & 15u;
}

template <bool BigEndian, u32... K>
TARVEL_HOT void load_ordered(u32* r, const DecodedOp* op, const u8* host, std::integer_sequence<u32, K...>) {
    ((r[listed_register<K>(op)] = host_load32<BigEndian>(host + 4 * K)), ...);
}
template <bool BigEndian, u32... K>
TARVEL_HOT void store_ordered(const u32* r, const DecodedOp* op, u8* host, std::integer_sequence<u32, K...>) {
    (host_store32<BigEndian>(host + 4 * K, r[listed_register<K>(op)]), ...);
}

// The instruction's ordinary run handler, for every case the dedicated one
// leaves alone. It tests the condition and does the rest as step() would.
template <bool Thumb, bool BigEndian>
[[gnu::noinline, gnu::cold]] u32 ordinary_op(Exec& e, const DecodedOp* op, u32 pc) {
    e.regs.r[15] = pc + (Thumb ? 4 : 8);
    const OpHandler handler = Thumb ? detail::kThumbRunHandlers[BigEndian][op->inst >> 6]
                                    : detail::kArmRunHandlers[BigEndian][arm_key(op->inst)];
    return handler(e, op, pc);
}

// N registers (N > 0, listed in op->operands) from or to the block below or
// above the base. The decisions for the corners are those of the ordinary
// handlers: a loaded base register wins over the write-back (it happens
// first); a stored base register is stored as it was (it happens after).
template <Base B, bool Pre, bool Up, bool Writeback, bool Load, u32 N, bool BigEndian>
u32 block_op(Exec& e, const DecodedOp* op, u32 pc) {
    constexpr bool kThumb = B != Base::Arm;
    constexpr u32 kSize = kThumb ? 2 : 4;
    constexpr u32 kBytes = N * 4;
    const u32 inst = op->inst;
    u32* const r = e.regs.r;
    if constexpr (!kThumb) {
        // Decoding leaves condition 0xF to the ordinary handler.
        if (inst < 0xE0000000u) [[unlikely]] {
            if (!condition_passes(inst >> 28, e.regs)) return arm_skipped_op(e, op, pc);
        }
        r[15] = pc + 8;
    }
    const u32 rn = B == Base::Arm ? (inst >> 16) & 15 : B == Base::ThumbList ? (inst >> 8) & 7 : 13;
    const u32 base = r[rn];
    const u32 lowest = (Up ? base + (Pre ? 4 : 0) : base - kBytes + (Pre ? 0 : 4)) & ~3u;
    const u32 new_base = Up ? base + kBytes : base - kBytes;
    u32 next = pc + kSize;
    if constexpr (Load) {
        const u8* host = fast_read_block(e, lowest, kBytes);
        if (!host) [[unlikely]] return ordinary_op<kThumb, BigEndian>(e, op, pc);
        if constexpr (Writeback) r[rn] = new_base;
        load_ordered<BigEndian>(r, op, host, std::make_integer_sequence<u32, N>{});
        // The pc: bit 15 of an ARM list, bit 8 of a Thumb POP (which stays in Thumb state).
        if constexpr (B == Base::Arm) {
            if (inst & 0x8000) next = r[15];
        } else if constexpr (B == Base::ThumbStack) {
            if (inst & 0x100) next = r[15] & ~1u;
        }
    } else {
        u8* host = fast_write_block(e, lowest, kBytes);
        if (!host) [[unlikely]] return ordinary_op<kThumb, BigEndian>(e, op, pc);
        store_ordered<BigEndian>(r, op, host, std::make_integer_sequence<u32, N>{});
        if constexpr (Writeback) r[rn] = new_base;
    }
    return run_next<kSize>(e, op, pc, next);
}

// ARM: [byte order][P U W L][registers - 1].
using ArmForms = std::array<std::array<OpHandler, 16>, 16>;
template <bool BigEndian, u32 Form, u32... K>
constexpr std::array<OpHandler, 16> arm_counts(std::integer_sequence<u32, K...>) {
    return {&block_op<Base::Arm, (Form & 8) != 0, (Form & 4) != 0, (Form & 2) != 0, (Form & 1) != 0, K + 1,
                      BigEndian>...};
}
template <bool BigEndian, u32... Form>
constexpr ArmForms arm_forms(std::integer_sequence<u32, Form...>) {
    return {arm_counts<BigEndian, Form>(std::make_integer_sequence<u32, 16>{})...};
}
const ArmForms kArmBlockOps[2] = {arm_forms<false>(std::make_integer_sequence<u32, 16>{}),
                                  arm_forms<true>(std::make_integer_sequence<u32, 16>{})};

// Thumb: [byte order][kind][registers - 1], up to eight low registers and lr or pc.
enum ThumbKind : u32 { kPush, kPop, kStmia, kLdmia };
using ThumbKinds = std::array<std::array<OpHandler, 9>, 4>;
template <bool BigEndian, u32... K>
constexpr ThumbKinds thumb_kinds(std::integer_sequence<u32, K...>) {
    return {{{&block_op<Base::ThumbStack, true, false, true, false, K + 1, BigEndian>...},
             {&block_op<Base::ThumbStack, false, true, true, true, K + 1, BigEndian>...},
             {&block_op<Base::ThumbList, false, true, true, false, K + 1, BigEndian>...},
             {&block_op<Base::ThumbList, false, true, true, true, K + 1, BigEndian>...}}};
}
const ThumbKinds kThumbBlockOps[2] = {thumb_kinds<false>(std::make_integer_sequence<u32, 9>{}),
                                      thumb_kinds<true>(std::make_integer_sequence<u32, 9>{})};

}  // namespace

bool predecode_block_transfer(DecodedOp& op, bool thumb, bool big_endian) {
    const u32 inst = op.inst;
    u32 list;
    OpHandler handler;
    if (thumb) {
        if ((inst & 0xF600) == 0xB400) {  // PUSH {list, lr} / POP {list, pc}
            const bool pop = inst & 0x0800;
            list = (inst & 0xFF) | (inst & 0x0100 ? (pop ? 0x8000u : 0x4000u) : 0u);
            if (list == 0) return false;
            handler = kThumbBlockOps[big_endian][pop ? kPop : kPush][std::popcount(list) - 1];
        } else if ((inst & 0xF000) == 0xC000) {  // LDMIA/STMIA rb!, {list}
            list = inst & 0xFF;
            if (list == 0) return false;
            handler = kThumbBlockOps[big_endian][inst & 0x0800 ? kLdmia : kStmia][std::popcount(list) - 1];
        } else {
            return false;
        }
    } else {
        // Block transfers without the S bit, with a list, and no write-back to r15.
        if ((inst & 0x0E400000) != 0x08000000 || (inst >> 28) == 0xF) return false;
        list = inst & 0xFFFF;
        if (list == 0 || ((inst & (1u << 21)) && ((inst >> 16) & 15) == 15)) return false;
        const u32 form = ((inst >> 21) & 0xC) | ((inst >> 20) & 3);  // P U W L
        handler = kArmBlockOps[big_endian][form][std::popcount(list) - 1];
    }
    op.handler = handler;
    op.operands = register_order(list);
    return true;
}

}  // namespace tarvel::armv4t
