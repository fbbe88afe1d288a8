#include "instruction_generator.hpp"

namespace tarvel::armv4t::testing {

u32 InstructionGenerator::condition() { return chance(60) ? 0xE : below(15); }

u32 InstructionGenerator::register_value(u32 data_base, u32 data_size) {
    switch (below(14)) {
        case 0: {
            static constexpr u32 kShifts[] = {0, 1, 31, 32, 33, 63, 64, 0xFF, 0x100, 0x120};
            return kShifts[below(10)];
        }
        case 1: {
            static constexpr u32 kEdges[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x80000001};
            return kEdges[below(7)];
        }
        case 2: case 3: case 4: case 5: case 6: case 7:
            // Pointers into the middle of the data area, sometimes misaligned.
            return data_base + data_size / 4 + (below(data_size / 2) & (chance(90) ? ~3u : ~0u));
        case 8: case 9: case 10: case 11: case 12: return data_base + data_size / 4 + (below(data_size / 2) & ~3u);
        default: return any();
    }
}

u32 InstructionGenerator::register_list() {
    u32 list = any() & 0xFFFF;
    if (chance(40)) list &= any();  // short lists too
    return list == 0 ? 1u << below(15) : list;
}

u32 InstructionGenerator::arm_data_processing() {
    const u32 opcode = below(16);
    const bool test = opcode >= 8 && opcode <= 11;
    const u32 s = test ? 1 : below(2);
    // Fields the encoding says should be zero are zero (the reference insists):
    // Rd of the comparisons, Rn of the moves.
    const u32 rn = (opcode == 13 || opcode == 15) ? 0 : below(16);
    u32 rd = test ? 0 : below(16);
    if (s && rd == 15 && chance(80)) rd = below(15);  // mostly not the exception return
    u32 inst = (condition() << 28) | (opcode << 21) | (s << 20) | (rn << 16) | (rd << 12);
    switch (below(3)) {
        case 0: return inst | (1u << 25) | (any() & 0xFFF);                            // immediate
        case 1: return inst | (below(32) << 7) | (below(4) << 5) | below(16);         // shift by immediate
        default: return inst | (below(16) << 8) | (below(4) << 5) | (1u << 4) | below(16);  // shift by register
    }
}

u32 InstructionGenerator::arm_single_transfer() {
    const bool reg = chance(40);
    u32 inst = (condition() << 28) | (1u << 26) | ((reg ? 1u : 0u) << 25) | (below(32) << 20) |
               (below(16) << 16) | (below(16) << 12);
    if (reg) return inst | (below(32) << 7) | (below(4) << 5) | below(16);
    return inst | (chance(70) ? below(64) : below(4096));
}

u32 InstructionGenerator::arm_halfword_transfer() {
    const bool load = chance(70);
    const u32 sh = load ? 1 + below(3) : 1;
    const bool imm = chance(60);
    u32 inst = (condition() << 28) | (below(2) << 24) | (below(2) << 23) | ((imm ? 1u : 0u) << 22) |
               (below(2) << 21) | ((load ? 1u : 0u) << 20) | (below(16) << 16) | (below(16) << 12) | (1u << 7) |
               (sh << 5) | (1u << 4);
    if (imm) return inst | (below(4) << 8) | below(16);
    return inst | below(16);
}

u32 InstructionGenerator::arm_block_transfer() {
    return (condition() << 28) | (4u << 25) | (below(32) << 20) | (below(16) << 16) | register_list();
}

u32 InstructionGenerator::arm() {
    const u32 cond = condition();
    switch (below(20)) {
        case 0: case 1: case 2: case 3: case 4: case 5: return arm_data_processing();
        case 6: case 7: case 8: return arm_single_transfer();
        case 9: case 10: return arm_halfword_transfer();
        case 11: case 12: return arm_block_transfer();
        case 13: {  // multiply and multiply-accumulate (Rn is zero without accumulate)
            const u32 as = below(4);
            const u32 rn = (as & 2) ? below(15) : 0;
            return (cond << 28) | (as << 20) | (below(15) << 16) | (rn << 12) | (below(15) << 8) | 0x90 | below(15);
        }
        case 14: {  // long multiplies
            const u32 hi = below(15);
            const u32 lo = (hi + 1 + below(14)) % 15;
            return (cond << 28) | (1u << 23) | (below(8) << 20) | (hi << 16) | (lo << 12) | (below(15) << 8) | 0x90 |
                   below(15);
        }
        case 15: {  // swap
            return (cond << 28) | 0x01000090 | (below(2) << 22) | (below(16) << 16) | (below(16) << 12) | below(16);
        }
        case 16: {  // branches that mostly stay near
            const i32 offset = static_cast<i32>(below(24)) - 12;
            return (cond << 28) | (5u << 25) | (below(2) << 24) | (static_cast<u32>(offset) & 0xFFFFFF);
        }
        case 17: return (cond << 28) | 0x012FFF10 | below(16);  // BX
        case 18: {  // MRS / MSR
            const u32 r = below(2) << 22;
            if (chance(30)) return (cond << 28) | 0x010F0000 | r | (below(16) << 12);  // MRS
            const u32 fields = below(16) << 16;
            if (chance(50)) return (cond << 28) | 0x0120F000 | r | fields | below(16);  // MSR register
            return (cond << 28) | 0x0320F000 | r | fields | (any() & 0xFFF);             // MSR immediate
        }
        default: return arm_data_processing();
    }
}

u32 InstructionGenerator::thumb(bool& is_pair) {
    is_pair = false;
    const u32 low3 = below(8), mid3 = below(8);
    switch (below(22)) {
        case 0: return (below(3) << 11) | (below(32) << 6) | (mid3 << 3) | low3;          // shifts
        case 1: return 0x1800 | (below(4) << 9) | (below(8) << 6) | (mid3 << 3) | low3;   // add/sub
        case 2: case 3: return 0x2000 | (below(4) << 11) | (below(8) << 8) | below(256);  // immediates
        case 4: case 5: return 0x4000 | (below(16) << 6) | (mid3 << 3) | low3;            // ALU
        case 6: {                                                                          // high registers, BX
            const u32 op = below(4);
            if (op == 3) return 0x4700 | (below(16) << 3);  // BX: bits 2..0 are zero
            return 0x4400 | (op << 8) | (below(2) << 7) | (below(16) << 3) | low3;
        }
        case 7: return 0x4800 | (below(8) << 8) | below(256);                               // PC-relative load
        case 8: case 9: return 0x5000 | (below(8) << 9) | (below(8) << 6) | (mid3 << 3) | low3;  // register offset
        case 10: case 11: return 0x6000 | (below(4) << 11) | (below(32) << 6) | (mid3 << 3) | low3;
        case 12: return 0x8000 | (below(2) << 11) | (below(32) << 6) | (mid3 << 3) | low3;
        case 13: return 0x9000 | (below(2) << 11) | (below(8) << 8) | below(256);           // sp-relative
        case 14: return 0xA000 | (below(2) << 11) | (below(8) << 8) | below(256);           // load address
        case 15: return 0xB000 | (below(2) << 7) | below(128);                              // sp adjust
        case 16: {                                                                          // push / pop
            const u32 r = below(2);
            u32 list = below(256);
            if (list == 0 && r == 0) list = 1u << below(8);
            return 0xB400 | (below(2) << 11) | (r << 8) | list;
        }
        case 17: {                                                                          // ldmia / stmia
            u32 list = below(256);
            if (list == 0) list = 1u << below(8);
            return 0xC000 | (below(2) << 11) | (below(8) << 8) | list;
        }
        case 18: case 19: {  // conditional branches, short
            const i32 offset = static_cast<i32>(below(16)) - 8;
            return 0xD000 | (below(14) << 8) | (static_cast<u32>(offset) & 0xFF);
        }
        case 20: {
            const i32 offset = static_cast<i32>(below(24)) - 12;
            return 0xE000 | (static_cast<u32>(offset) & 0x7FF);
        }
        default: {  // BL as a pair, mostly to near targets
            is_pair = true;
            const i32 offset = chance(80) ? static_cast<i32>(below(32)) - 16 : static_cast<i32>(any() & 0x3FFFFF);
            const u32 bits22 = static_cast<u32>(offset) & 0x3FFFFF;
            const u32 prefix = 0xF000 | (bits22 >> 11);
            const u32 suffix = 0xF800 | (bits22 & 0x7FF);
            return prefix | (suffix << 16);
        }
    }
}

}  // namespace tarvel::armv4t::testing
