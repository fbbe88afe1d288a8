#include "armv4t/block_cache.hpp"

#include <algorithm>
#include <cstdint>
#include <new>

#include "armv4t/block_ops.hpp"
#include "armv4t/cpu.hpp"
#include "armv4t/decode_table.hpp"

namespace tarvel::armv4t {

bool arm_may_branch(u32 inst) {
    const u32 rd = (inst >> 12) & 15;
    const u32 rn = (inst >> 16) & 15;
    if ((inst >> 28) == 0xF) return true;
    switch ((inst >> 25) & 7) {
        case 0:  // data processing, PSR transfers, multiplies, swaps, halfword transfers, BX
            // Rn is written by multiplies (as Rd) and by halfword write-backs, all with bits 7 and 4 set.
            return rd == 15 || (rn == 15 && (inst & 0x90) == 0x90);
        case 1:  // data processing with an immediate, MSR
            return rd == 15;
        case 2:
        case 3: {  // single transfers: a load into the pc, or a write-back to it
            const bool writeback = !(inst & (1u << 24)) || (inst & (1u << 21));
            return rd == 15 || (rn == 15 && writeback);
        }
        case 4: {  // block transfers (an empty list transfers the pc)
            const u32 list = inst & 0xFFFF;
            return (list & 0x8000) || list == 0 || rn == 15;
        }
        default:  // branches, coprocessor instructions, software interrupts
            return true;
    }
}

bool thumb_may_branch(u32 inst) {
    if ((inst & 0xFC00) == 0x4400)  // high registers: BX, BLX, and ADD, CMP or MOV with Rd = r15
        return (inst & 0x0300) == 0x0300 || (inst & 0x87) == 0x87;
    if ((inst & 0xFF00) == 0xBD00) return true;                           // POP with the pc
    if ((inst & 0xFF00) == 0xBC00 && (inst & 0xFF) == 0) return true;     // POP of nothing loads the pc
    if ((inst & 0xF000) == 0xC000 && (inst & 0xFF) == 0) return true;     // LDMIA/STMIA of nothing
    if ((inst & 0xF000) == 0xD000) return true;                           // B<cond>, SWI
    return (inst & 0xE000) == 0xE000 && (inst & 0xF800) != 0xF000;         // B, BL and BLX second halves
}

bool arm_reads_pc(u32 inst) {
    const auto is_pc = [inst](unsigned low) { return ((inst >> low) & 15) == 15; };
    switch ((inst >> 25) & 7) {
        case 1:  // data processing with an immediate, MSR: Rn alone
            return is_pc(16);
        case 2:  // single transfers with an immediate offset: the base, or a stored Rd
            return is_pc(16) || is_pc(12);
        case 4:  // block transfers: the base, r15 in the list, or an empty list (which stores r15)
            return is_pc(16) || (inst & 0x8000) || (inst & 0xFFFF) == 0;
        case 5:  // branches take the pc as it is
            return false;
        case 7:
            if ((inst & 0x0F000000) == 0x0F000000) return false;  // software interrupts
            [[fallthrough]];
        default:  // any of the four register fields
            return is_pc(16) || is_pc(12) || is_pc(8) || is_pc(0);
    }
}

bool thumb_reads_pc(u32 inst) {
    if ((inst & 0xFC00) == 0x4400)  // high registers: Rs or Rd is r15
        return (inst & 0x78) == 0x78 || (inst & 0x87) == 0x87;
    if ((inst & 0xF6FF) == 0xB400) return true;  // PUSH or POP of nothing (PUSH stores r15)
    return (inst & 0xF0FF) == 0xC000;           // LDMIA or STMIA of nothing (STMIA stores r15)
}

namespace {

// The decoded op of an instruction that may read r15: sets it, then runs the
// instruction's handler, kept in the op's operands.
template <u32 Size>
u32 with_pc_operand(Exec& e, const DecodedOp* op, u32 pc) {
    e.regs.r[15] = pc + 2 * Size;
    return reinterpret_cast<OpHandler>(static_cast<uintptr_t>(op->operands))(e, op, pc);
}

void set_pc_operand(DecodedOp& op, u32 size) {
    op.operands = reinterpret_cast<uintptr_t>(op.handler);
    op.handler = size == 2 ? &with_pc_operand<2> : &with_pc_operand<4>;
}

}  // namespace

void BlockCache::allocate() {
    auto* blocks = static_cast<CodeBlock*>(std::calloc(kSlots, sizeof(CodeBlock)));
    if (!blocks) throw std::bad_alloc();
    slots_.reset(blocks);
}

void BlockCache::guard(Exec& e, u32 pc, u32 bytes) {
    const u64 low = pc >= 64 ? pc - 64 : 0;
    const u64 high = u64{pc} + bytes;
    if (guard_low_ == guard_high_) {
        guard_low_ = low;
        guard_high_ = high;
    } else {
        guard_low_ = std::min(guard_low_, low);
        guard_high_ = std::max(guard_high_, high);
    }
    set_code_guard(e);
}

void BlockCache::set_code_guard(Exec& e) const {
    // A span of the whole address space leaves out its last byte, where no
    // block can end (the top page would have to hold code).
    e.code_guard_begin = static_cast<u32>(guard_low_);
    e.code_guard_bytes = static_cast<u32>(std::min<u64>(guard_high_ - guard_low_, 0xFFFFFFFFu));
}

void BlockCache::decode(CodeBlock& block, u32 pc, const u8* code, bool thumb, bool big_endian, u32 max_bytes) {
    const u32 size = thumb ? 2 : 4;
    const u32 to_page_end = machine::GuestMemory::kPageSize - (pc & machine::GuestMemory::kPageMask);
    u32 limit = std::min(std::min(max_bytes, to_page_end) / size, CodeBlock::kMaxOps);
    if (limit == 0) limit = 1;  // the caller has checked that one instruction fits
    u32 count = 0;
    while (count < limit) {
        const u8* at = code + count * size;
        DecodedOp& op = block.ops[count++];
        if (thumb) {
            const u32 inst = big_endian ? load_be16(at) : load_le16(at);
            op = {detail::kThumbRunHandlers[big_endian][inst >> 6], inst, 0};
            if (!predecode_block_transfer(op, true, big_endian) && thumb_reads_pc(inst)) set_pc_operand(op, 2);
            if (thumb_may_branch(inst)) break;
        } else {
            const u32 inst = big_endian ? load_be32(at) : load_le32(at);
            op = {detail::kArmRunHandlers[big_endian][arm_key(inst)], inst, 0};
            if (!predecode_block_transfer(op, false, big_endian) && arm_reads_pc(inst)) set_pc_operand(op, 4);
            if (arm_may_branch(inst)) break;
        }
    }
    block.ops[count - 1].last = 1;
    block.tag = tag_of(pc, thumb, big_endian);
    block.count = count;
    block.bytes = count * size;
    std::memcpy(block.code, code, block.bytes);
}

}  // namespace tarvel::armv4t
