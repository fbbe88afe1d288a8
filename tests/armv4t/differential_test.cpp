// Differential test: random instruction streams run on this interpreter and on
// Unicorn (an ARMv4T core model) side by side, compared after every instruction
// on r0-r15, the CPSR and every byte the instruction wrote.
//
// TARVEL_DIFF_INSTRUCTIONS sets how many instructions to compare (default one
// million); TARVEL_DIFF_SEED changes the seed.
//
// Some instructions are kept out of the comparison, each for a stated reason:
// either the reference gets the ARMv4T architecture wrong (the correct result
// is checked by the hand-written tests), or the architecture leaves the result
// open and this system defines it (also covered by hand-written tests).

#include <unicorn/unicorn.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "armv4t/cpu.hpp"
#include "armv4t/decode_table.hpp"
#include "instruction_generator.hpp"
#include "memory/guest_memory.hpp"

// The reference library leaks a few small blocks of its own when translations are
// dropped; the leak checker of the sanitizer build is told to ignore them.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libunicorn\n";
}

namespace tarvel::armv4t {
namespace {

constexpr u32 kCodeBase = 0x00010000;
constexpr u32 kCodeSize = 0x00010000;
constexpr u32 kDataBase = 0x00100000;
constexpr u32 kDataSize = 0x00010000;
constexpr u32 kStreamSlots = 48;
constexpr u32 kMaxStreamSteps = 96;

u64 env_u64(const char* name, u64 fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    return std::strtoull(text, nullptr, 0);
}

// True when [address, address + size) lies inside the code or data area. Other
// accesses read 0 and drop writes in this system (hand-tested); the reference
// faults on them, so they are kept out of the comparison.
bool inside_test_memory(u32 address, u32 size) {
    const auto inside = [&](u32 base, u32 length) { return address - base < length && address - base + size <= length; };
    return inside(kDataBase, kDataSize) || inside(kCodeBase, kCodeSize);
}
constexpr const char* kOutside = "access outside the test memory";

bool reg_shift_form(u32 inst) { return !(inst & (1u << 25)) && (inst & 0x10); }

// Fields that the encodings fix (should be zero or one). Such words come up only
// when a store writes data over the code; this system ignores those fields and
// the reference rejects the instruction.
bool fixed_fields_hold(u32 inst) {
    switch (classify_arm_ordered(inst)) {
        case ArmClass::DataProc0: case ArmClass::DataProc1: case ArmClass::DataProc2: {
            const u32 opcode = (inst >> 21) & 15;
            if (opcode >= 8 && opcode <= 11 && (inst & 0x0000F000)) return false;
            // A comparison without S is outside the data-processing space; the decode
            // order used here makes it a no-op.
            if (opcode >= 8 && opcode <= 11 && !(inst & (1u << 20))) return false;
            if ((opcode == 13 || opcode == 15) && (inst & 0x000F0000)) return false;
            return true;
        }
        case ArmClass::Multiply: return (inst & (1u << 21)) || !(inst & 0x0000F000);
        case ArmClass::PsrReg:
            if (inst & (1u << 21)) return (inst & 0x0000F000) == 0x0000F000;
            return (inst & 0x000F0FFF) == 0x000F0000;
        // An MSR of the CPSR with no field selected is where later cores put their
        // hints; the reference rejects those it does not know.
        case ArmClass::PsrImm: return (inst & 0x0000F000) == 0x0000F000 && (inst & 0x004F0000) != 0;
        default: return true;
    }
}

// Why an ARM instruction is kept out of the comparison in this state, or nullptr.
const char* arm_exclusion(u32 inst, const RegisterFile& regs) {
    const auto r = [&](unsigned n) { return n == 15 ? regs.r[15] + 8 : regs.r[n]; };
    const u32 rn = (inst >> 16) & 15, rd = (inst >> 12) & 15, rs = (inst >> 8) & 15, rm = inst & 15;
    // Condition 0xF never executes in ARMv4T; later cores give it other meanings.
    if ((inst >> 28) == 0xF) return "condition 0xF";
    if (!fixed_fields_hold(inst)) return "should-be-zero/one field";
    switch (classify_arm_ordered(inst)) {
        case ArmClass::DataProc0: case ArmClass::DataProc1: case ArmClass::DataProc2: {
            const u32 opcode = (inst >> 21) & 15;
            const bool s = inst & (1u << 20);
            // Correct: with a register-specified shift, r15 as Rn or Rm reads as the
            // instruction's address + 12 (the reference gives + 8); Rd or Rs = r15
            // there is unpredictable.
            if (reg_shift_form(inst) && (rn == 15 || rm == 15 || rs == 15 || rd == 15)) return "reg-shift pc";
            // Unpredictable without an SPSR (User and System mode): this system
            // leaves the CPSR unchanged.
            if (s && rd == 15 && (opcode < 8 || opcode > 11)) return "S to pc without SPSR";
            return nullptr;
        }
        case ArmClass::SingleXferI: case ArmClass::SingleXferR: {
            const bool pre = inst & (1u << 24), up = inst & (1u << 23), byte = inst & (1u << 22);
            const bool wb = !pre || (inst & (1u << 21));
            if (wb && rn == 15) return "writeback to pc";
            u32 offset = inst & 0xFFF;
            if (inst & (1u << 25)) {
                u32 carry = (regs.cpsr() >> 29) & 1;
                const u32 type = (inst >> 5) & 3, amount = (inst >> 7) & 31;
                switch (type) {
                    case 0: offset = shift_by_immediate<0>(r(rm), amount, carry); break;
                    case 1: offset = shift_by_immediate<1>(r(rm), amount, carry); break;
                    case 2: offset = shift_by_immediate<2>(r(rm), amount, carry); break;
                    default: offset = shift_by_immediate<3>(r(rm), amount, carry); break;
                }
            }
            const u32 address = pre ? (up ? r(rn) + offset : r(rn) - offset) : r(rn);
            // Correct: a misaligned word load reads the aligned word rotated so that
            // the addressed byte is lowest; a misaligned word store uses the aligned
            // address. The reference reads and writes the unaligned bytes.
            if (!byte && (address & 3)) return "misaligned word";
            if (!inside_test_memory(address, 4)) return kOutside;
            return nullptr;
        }
        case ArmClass::HwSgnXferR: case ArmClass::HwSgnXferI: {
            const bool pre = inst & (1u << 24), up = inst & (1u << 23), imm = inst & (1u << 22);
            const bool wb = !pre || (inst & (1u << 21));
            if (wb && rn == 15) return "writeback to pc";
            const u32 offset = imm ? (((inst >> 4) & 0xF0) | (inst & 0xF)) : r(rm);
            const u32 address = pre ? (up ? r(rn) + offset : r(rn) - offset) : r(rn);
            const u32 sh = (inst >> 5) & 3;
            if (sh == 0 || (!(inst & (1u << 20)) && sh != 1)) return "exception or coprocessor";
            // This system ignores bit 0 of a halfword address (unpredictable in
            // ARMv4T); the reference accesses the unaligned bytes.
            if (sh != 2 && (address & 1)) return "misaligned halfword";
            if (!inside_test_memory(address, 2)) return kOutside;
            return nullptr;
        }
        case ArmClass::BlockXfer: {
            if (rn == 15) return "block transfer based on pc";
            // Unpredictable: this system moves r15 alone and the base by 64 (hand-tested).
            if ((inst & 0xFFFF) == 0) return "empty register list";
            // Block transfers ignore the low address bits; the reference does not.
            if (regs.r[rn] & 3) return "misaligned block";
            // Restoring the CPSR from a missing SPSR is unpredictable.
            if ((inst & (1u << 22)) && (inst & (1u << 20)) && (inst & 0x8000)) return "LDM^ with pc";
            // The User-bank forms are unpredictable in User mode, where the reference
            // rejects them; this system transfers the (same) User registers.
            if ((inst & (1u << 22)) && regs.mode() == kModeUser) return "LDM^/STM^ in User mode";
            // Correct: System mode shares the User registers, so the User-bank forms move
            // the current r13 and r14; the reference moves a stale copy of them instead.
            if ((inst & (1u << 22)) && (inst & 0x6000)) return "LDM^/STM^ of r13 or r14";
            // Write-back with the User-bank forms is unpredictable (the reference rejects it).
            if ((inst & (1u << 22)) && (inst & (1u << 21))) return "LDM^/STM^ with write-back";
            const u32 bytes = static_cast<u32>(__builtin_popcount(inst & 0xFFFF)) * 4;
            if (!inside_test_memory(regs.r[rn] - bytes, 2 * bytes + 4)) return kOutside;
            return nullptr;
        }
        case ArmClass::Multiply: {
            if (rn == 15 || rd == 15 || rs == 15 || rm == 15) return "multiply with pc";
            return nullptr;
        }
        case ArmClass::MulLong: {
            if (rn == 15 || rd == 15 || rs == 15 || rm == 15 || rn == rd) return "long multiply operands";
            return nullptr;
        }
        case ArmClass::Swap: {
            if (rn == 15 || rd == 15 || rm == 15) return "swap with pc";
            if (!(inst & (1u << 22)) && (regs.r[rn] & 3)) return "misaligned word";  // as for LDR/STR
            if (!inside_test_memory(regs.r[rn], 4)) return kOutside;
            return nullptr;
        }
        case ArmClass::PsrReg: case ArmClass::PsrImm: {
            const bool spsr = inst & (1u << 22);
            // User and System mode have no SPSR: this system reads and writes the
            // CPSR instead (hand-tested).
            if (spsr) return "SPSR without SPSR";
            if (!(inst & (1u << 21))) return rd == 15 ? "MRS to pc" : nullptr;
            if ((inst & (1u << 16)) && regs.mode() == kModeSystem) {
                const u32 operand = (inst & (1u << 25)) ? ror32(inst & 0xFF, (inst >> 7) & 0x1E) : r(rm);
                // Only switches between User and System in ARM state are compared; invalid
                // modes are rejected by this system (hand-tested).
                const u32 mode = operand & kModeMask;
                if ((mode != kModeUser && mode != kModeSystem) || (operand & kThumbBit)) return "MSR mode change";
            }
            return nullptr;
        }
        case ArmClass::BranchEx:
            // A target with bit 1 set in ARM state is unpredictable.
            return (regs.r[rm] & 3) == 2 ? "BX to misaligned ARM code" : nullptr;
        case ArmClass::SoftwareInt: case ArmClass::Undefined: case ArmClass::CoprocReg:
            // Never generated, but stores may write them into the code: exception entry
            // and the missing coprocessor are this system's own (hand-tested).
            return "exception or coprocessor";
        default: return nullptr;
    }
}

// Why a Thumb instruction is kept out of the comparison in this state, or nullptr.
const char* thumb_exclusion(u16 inst, u16 next, const RegisterFile& regs) {
    const u32 rb = (inst >> 3) & 7;
    const u32 ro = (inst >> 6) & 7;
    const u32 imm5 = (inst >> 6) & 31;
    if ((inst & 0xFF00) == 0xDE00) return "exception";
    switch (classify_thumb_ordered(inst)) {
        case ThumbClass::SoftwareInt: case ThumbClass::Undefined: return "exception";
        case ThumbClass::PcLoad: {
            const u32 address = ((regs.r[15] + 4) & ~3u) + (inst & 0xFF) * 4;
            return inside_test_memory(address, 4) ? nullptr : kOutside;
        }
        case ThumbClass::SingleXferR: {
            const u32 address = regs.r[rb] + regs.r[ro];
            // Correct: as in ARM state, misaligned word loads rotate and word stores
            // align; the reference accesses the unaligned bytes.
            if (!(inst & 0x0400) && (address & 3)) return "misaligned word";
            return inside_test_memory(address, 4) ? nullptr : kOutside;
        }
        case ThumbClass::HwSgnXfer: {
            const u32 address = regs.r[rb] + regs.r[ro];
            if (((inst >> 10) & 3) != 1 && (address & 1)) return "misaligned halfword";
            return inside_test_memory(address, 2) ? nullptr : kOutside;
        }
        case ThumbClass::SingleXferI: {
            const u32 address = regs.r[rb] + ((inst & 0x1000) ? imm5 : imm5 * 4);
            if (!(inst & 0x1000) && (address & 3)) return "misaligned word";
            return inside_test_memory(address, 4) ? nullptr : kOutside;
        }
        case ThumbClass::HwXferI: {
            const u32 address = regs.r[rb] + imm5 * 2;
            if (address & 1) return "misaligned halfword";
            return inside_test_memory(address, 2) ? nullptr : kOutside;
        }
        case ThumbClass::SpXfer: {
            const u32 address = regs.r[13] + (inst & 0xFF) * 4;
            if (address & 3) return "misaligned word";
            return inside_test_memory(address, 4) ? nullptr : kOutside;
        }
        case ThumbClass::PushPop:
            if ((inst & 0x01FF) == 0) return "empty register list";
            if (regs.r[13] & 3) return "misaligned block";
            return inside_test_memory(regs.r[13] - 40, 80) ? nullptr : kOutside;
        case ThumbClass::BlockXfer: {
            if ((inst & 0x00FF) == 0) return "empty register list";
            const u32 base = regs.r[(inst >> 8) & 7];
            if (base & 3) return "misaligned block";
            return inside_test_memory(base, 32) ? nullptr : kOutside;
        }
        case ThumbClass::LongBranch:
            // A prefix before a BLX suffix is the later cores' BLX pair, which this
            // system executes (hand-tested) and the reference does not have.
            if (!(inst & 0x0800) && (next & 0xF800) == 0xE800) return "BLX pair";
            // Correct: a prefix on its own sets lr = pc + 4 + (offset << 12); the
            // reference rejects a prefix that is not followed by its suffix.
            if (!(inst & 0x0800) && (next & 0xF800) != 0xF800) return "lone long-branch prefix";
            // A second half on its own with bit 0 of lr set: this system clears the bit
            // and stays in Thumb state; the reference does otherwise.
            return (inst & 0x0800) && (regs.r[14] & 1) ? "lone long-branch suffix" : nullptr;
        case ThumbClass::HiRegBx: {
            // BX with H1 set is the later cores' BLX register form, which this system
            // executes whatever bits 2..0 hold (hand-tested); the reference treats it
            // as BX or rejects it.
            if ((inst & 0xFF80) == 0x4780) return "BLX register";
            // Plain BX with bits 2..0 set: this system ignores the bits as it does
            // for BLX; the reference rejects the encoding.
            if (inst & 7) return "BX with should-be-zero bits set";
            const u32 rs = (inst >> 3) & 15;
            const u32 target = rs == 15 ? regs.r[15] + 4 : regs.r[rs];
            return ((inst & 0x0300) == 0x0300 && (target & 3) == 2) ? "BX to misaligned ARM code" : nullptr;
        }
        default: return nullptr;
    }
}

class Reference {
public:
    Reference() : code_(kCodeSize), data_(kDataSize) {
        EXPECT_EQ(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_), UC_ERR_OK);
        EXPECT_EQ(uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_TI925T), UC_ERR_OK);
        EXPECT_EQ(uc_mem_map_ptr(uc_, kCodeBase, kCodeSize, UC_PROT_ALL, code_.data()), UC_ERR_OK);
        EXPECT_EQ(uc_mem_map_ptr(uc_, kDataBase, kDataSize, UC_PROT_ALL, data_.data()), UC_ERR_OK);
        uc_hook hook;
        uc_hook_add(uc_, &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&on_write), this, 1, 0);
        uc_hook_add(uc_, &hook, UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void*>(&on_unmapped), this, 1, 0);
        uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&on_code), this, 1, 0);
    }
    ~Reference() { uc_close(uc_); }

    std::vector<u8>& code() { return code_; }
    std::vector<u8>& data() { return data_; }

    void set_state(const RegisterFile& regs) {
        u32 cpsr = regs.cpsr();
        uc_reg_write(uc_, UC_ARM_REG_CPSR, &cpsr);
        for (int n = 0; n < 16; ++n) {
            u32 value = regs.r[n];
            uc_reg_write(uc_, kRegs[n], &value);
        }
    }
    void set_pc(u32 pc) { uc_reg_write(uc_, UC_ARM_REG_PC, &pc); }
    void set_reg(int n, u32 value) { uc_reg_write(uc_, kRegs[n], &value); }
    void write(u32 address, const u8* bytes, u32 size) { uc_mem_write(uc_, address, bytes, size); }
    // Code bytes were changed behind the reference's back: drop its translations.
    void code_changed(u32 begin, u32 end) { uc_ctl_remove_cache(uc_, begin, end); }

    // Runs the one instruction at pc. `expected_next` is where this system went: the
    // reference stops on reaching it, since the count limit alone sometimes lets it
    // carry on after a taken branch. (Where it goes elsewhere, the count still ends
    // the run and the comparison reports the difference.)
    uc_err step(u32 pc, bool thumb, u32 expected_next) {
        writes_.clear();
        instructions_started_ = 0;
        unmapped_ = false;
        // A branch to itself would end the run before it starts: the count alone then.
        const u64 until = expected_next == pc ? 0xFFFFFFFFu : expected_next;
        const uc_err err = uc_emu_start(uc_, pc | (thumb ? 1 : 0), until, 0, 1);
        return err;
    }

    u32 reg(int n) {
        u32 value = 0;
        uc_reg_read(uc_, kRegs[n], &value);
        return value;
    }
    u32 cpsr() {
        u32 value = 0;
        uc_reg_read(uc_, UC_ARM_REG_CPSR, &value);
        return value;
    }

    struct Write {
        u32 address;
        u32 size;
    };
    const std::vector<Write>& writes() const { return writes_; }
    bool hit_unmapped() const { return unmapped_; }
    bool overran() const { return instructions_started_ > 1; }
    int started() const { return instructions_started_; }
    uc_engine* engine() { return uc_; }

private:
    static constexpr int kRegs[16] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,
                                      UC_ARM_REG_R4, UC_ARM_REG_R5, UC_ARM_REG_R6,  UC_ARM_REG_R7,
                                      UC_ARM_REG_R8, UC_ARM_REG_R9, UC_ARM_REG_R10, UC_ARM_REG_R11,
                                      UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR, UC_ARM_REG_PC};

    static void on_write(uc_engine*, uc_mem_type, u64 address, int size, i64, void* self) {
        static_cast<Reference*>(self)->writes_.push_back({static_cast<u32>(address), static_cast<u32>(size)});
    }
    // Counts the instructions the reference starts during one step (see overran()).
    static void on_code(uc_engine* uc, u64, u32, void* self) {
        if (++static_cast<Reference*>(self)->instructions_started_ > 1) uc_emu_stop(uc);
    }
    // An access outside the test memory stops the reference (mapping scratch pages
    // on the fly makes it run past the one instruction asked for).
    static bool on_unmapped(uc_engine*, uc_mem_type, u64, int, i64, void* self) {
        static_cast<Reference*>(self)->unmapped_ = true;
        return false;
    }

    uc_engine* uc_ = nullptr;
    std::vector<u8> code_;
    std::vector<u8> data_;
    std::vector<Write> writes_;
    int instructions_started_ = 0;
    bool unmapped_ = false;
};

struct Totals {
    u64 compared = 0;
    u64 excluded = 0;
    u64 arm = 0;
    u64 thumb = 0;
    std::map<std::string, u64> reasons;
};

class DifferentialRun {
public:
    explicit DifferentialRun(u64 seed) : gen_(seed), memory_(false) {
        memory_.add_region(kCodeBase, kCodeSize);
        memory_.add_region(kDataBase, kDataSize);
        // Mostly pointers into the data area, so that loaded values serve as
        // addresses again and streams keep touching memory.
        for (u32 i = 0; i < kDataSize; i += 4) {
            const u32 word = gen_.register_value(kDataBase, kDataSize);
            store_le32(&ref().data()[i], word);
            store_le32(&memory_.region_bytes(1)[i], word);
        }
    }

    // Runs one stream; returns false after reporting a mismatch.
    bool stream(Totals& totals) {
        if (++streams_on_reference_ > 500) renew_reference();
        const bool thumb = gen_.chance(45);
        const u32 slot_size = thumb ? 2 : 4;
        const u32 start = kCodeBase + gen_.below((kCodeSize - kStreamSlots * 4) / 4) * 4;
        const u32 end = start + kStreamSlots * slot_size;
        for (u32 i = 0; i < kStreamSlots; ++i) {
            const u32 address = start + i * slot_size;
            if (thumb) {
                bool pair = false;
                const u32 value = gen_.thumb(pair);
                write_code16(address, static_cast<u16>(value));
                if (pair && i + 1 < kStreamSlots) {
                    write_code16(address + 2, static_cast<u16>(value >> 16));
                    ++i;
                }
            } else {
                write_code32(address, gen_.arm());
            }
        }

        ref().code_changed(start, end + 4);

        RegisterFile& regs = cpu_.regs;
        u32 cpsr = (gen_.any() & kFlagsMask) | (gen_.chance(50) ? kModeUser : kModeSystem) |
                   (gen_.chance(50) ? kIrqDisable : 0) | (thumb ? kThumbBit : 0);
        regs.set_cpsr(cpsr);
        for (int n = 0; n < 15; ++n) regs.r[n] = gen_.register_value(kDataBase, kDataSize);
        if (gen_.chance(90)) regs.r[13] = kDataBase + kDataSize / 2 + gen_.below(kDataSize / 4) * 4 - kDataSize / 8;
        regs.r[15] = start;
        ref().set_state(regs);

        for (u32 step = 0; step < kMaxStreamSteps; ++step) {
            const u32 pc = regs.r[15];
            if (pc < start || pc >= end) break;
            const bool in_thumb = regs.thumb();
            const u32 inst = in_thumb ? memory_.read16(pc) : memory_.read32(pc);
            const bool condition_fails =
                !in_thumb && (inst >> 28) != 0xF && !condition_passes(inst >> 28, regs.cpsr());
            const char* reason = nullptr;
            if (!condition_fails) {
                reason = in_thumb ? thumb_exclusion(static_cast<u16>(inst), memory_.read16(pc + 2), regs) : arm_exclusion(inst, regs);
            }
            history_.push_back(fmt::format("{:08x}:{:08x}{}", pc, inst, reason ? std::string(" kept out: ") + reason : ""));
            if (history_.size() > 8) history_.erase(history_.begin());
            if (reason) {
                ++totals.excluded;
                ++totals.reasons[reason];
                regs.r[15] = pc + (in_thumb ? 2 : 4);
                ref().set_pc(regs.r[15]);
                continue;
            }
            const std::array<u32, 16> before = snapshot(regs);
            const u32 cpsr_before = regs.cpsr();
            cpu_.step(memory_);
            // The reference executes a long-branch prefix and the suffix after it as
            // one instruction when both lie in one 1 KiB page; such halves are compared
            // together.
            if (in_thumb && (inst & 0xF800) == 0xF000 && (memory_.read16(pc + 2) & 0xF800) == 0xF800 &&
                (pc & 0x3FF) != 0x3FE) {
                cpu_.step(memory_);
                ++totals.compared;
                ++totals.thumb;
            }
            // The pc is kept aligned between instructions, as the code that drives the
            // interpreter does (and as the reference's register writes do).
            regs.r[15] &= regs.thumb() ? ~1u : ~3u;
            // The reference may chain straight into code it translated earlier and
            // carry on running there; with no translations of the stream left to
            // chain to, it stops after the one instruction.
            ref().code_changed(start, end + 4);
            const uc_err err = ref().step(pc, in_thumb, regs.r[15]);
            ++totals.compared;
            ++(in_thumb ? totals.thumb : totals.arm);
            // Now and then the reference runs on past the one instruction asked for
            // (into translated code chained to it). That run proves nothing: bring the
            // reference back to this side's state and go on.
            // The instruction itself stays inside the test memory (see the exclusions),
            // so a memory fault also means the reference ran on.
            if (ref().overran() || err == UC_ERR_READ_UNMAPPED || err == UC_ERR_WRITE_UNMAPPED) {
                ++totals.excluded;
                ++totals.reasons["reference ran past the instruction"];
                resync();
                continue;
            }
            // A branch out of the test memory completes and then fails to fetch.
            if (err != UC_ERR_OK && err != UC_ERR_FETCH_UNMAPPED) {
                u32 seen = 0;
                uc_mem_read(ref().engine(), pc, &seen, 4);
                report(inst, in_thumb, before, cpsr_before,
                       fmt::format("reference error: {} (reference code word {:08x}, pc {:08x}, started {})",
                                   uc_strerror(err), seen, ref().reg(15), ref().started()));
                return false;
            }
            for (const auto& w : ref().writes()) {
                if (w.address - kCodeBase < kCodeSize) ref().code_changed(w.address, w.address + w.size);
            }
            // Bits 8..27 of a status register are reserved in ARMv4T; the reference keeps
            // later architectures' bits there. MRS results are compared on the rest.
            int masked_reg = -1;
            if (!in_thumb && classify_arm_ordered(inst) == ArmClass::PsrReg && !(inst & (1u << 21)))
                masked_reg = static_cast<int>((inst >> 12) & 15);
            std::string diff = compare(masked_reg);
            if (masked_reg >= 0) ref().set_reg(masked_reg, regs.r[masked_reg]);
            if (!diff.empty()) {
                report(inst, in_thumb, before, cpsr_before, diff);
                return false;
            }
        }
        if (std::memcmp(ref().data().data(), memory_.regions()[1].bytes.data(), kDataSize) != 0 ||
            std::memcmp(ref().code().data(), memory_.regions()[0].bytes.data(), kCodeSize) != 0) {
            ADD_FAILURE() << "memory differs at the end of a stream starting at " << std::hex << start;
            return false;
        }
        return true;
    }

private:
    Reference& ref() { return *reference_; }

    // A long-lived reference engine eventually starts running past the single
    // instruction it is asked for; a fresh one every so often avoids that.
    void renew_reference() {
        reference_ = std::make_unique<Reference>();
        std::memcpy(ref().data().data(), memory_.regions()[1].bytes.data(), kDataSize);
        std::memcpy(ref().code().data(), memory_.regions()[0].bytes.data(), kCodeSize);
        streams_on_reference_ = 0;
    }

    void resync() {
        ref().set_state(cpu_.regs);
        std::memcpy(ref().data().data(), memory_.regions()[1].bytes.data(), kDataSize);
        std::memcpy(ref().code().data(), memory_.regions()[0].bytes.data(), kCodeSize);
        ref().code_changed(kCodeBase, kCodeBase + kCodeSize);
    }

    void write_code16(u32 address, u16 value) {
        memory_.write16(address, value);
        u8 bytes[2];
        store_le16(bytes, value);
        ref().write(address, bytes, 2);
    }
    void write_code32(u32 address, u32 value) {
        memory_.write32(address, value);
        u8 bytes[4];
        store_le32(bytes, value);
        ref().write(address, bytes, 4);
    }

    static std::array<u32, 16> snapshot(const RegisterFile& regs) {
        std::array<u32, 16> out{};
        for (int n = 0; n < 16; ++n) out[n] = regs.r[n];
        return out;
    }

    std::string compare(int masked_reg) {
        std::string diff;
        const RegisterFile& regs = cpu_.regs;
        for (int n = 0; n < 16; ++n) {
            const u32 theirs = ref().reg(n);
            const u32 mask = n == masked_reg ? kFlagsMask | 0xFF : 0xFFFFFFFF;
            if ((theirs & mask) != (regs.r[n] & mask)) diff += fmt::format(" r{}: ours {:08x} reference {:08x};", n, regs.r[n], theirs);
        }
        const u32 mask = kFlagsMask | 0xFF;
        if ((ref().cpsr() & mask) != (regs.cpsr() & mask))
            diff += fmt::format(" cpsr: ours {:08x} reference {:08x};", regs.cpsr(), ref().cpsr());
        for (const auto& w : ref().writes()) {
            for (u32 i = 0; i < w.size; ++i) {
                const u32 address = w.address + i;
                const std::vector<u8>* theirs = nullptr;
                u32 offset = 0;
                if (address - kDataBase < kDataSize) {
                    theirs = &ref().data();
                    offset = address - kDataBase;
                } else if (address - kCodeBase < kCodeSize) {
                    theirs = &ref().code();
                    offset = address - kCodeBase;
                } else {
                    continue;  // a scratch page: the write is dropped here too
                }
                const u8* ours = memory_.host_read_view(address, 1);
                if (*ours != (*theirs)[offset])
                    diff += fmt::format(" [{:08x}]: ours {:02x} reference {:02x};", address, *ours, (*theirs)[offset]);
            }
        }
        return diff;
    }

    void report(u32 inst, bool thumb, const std::array<u32, 16>& before, u32 cpsr_before, const std::string& diff) {
        std::string state;
        for (int n = 0; n < 16; ++n) state += fmt::format(" r{}={:08x}", n, before[n]);
        ADD_FAILURE() << (thumb ? fmt::format("Thumb {:04x} (then {:04x})", inst, memory_.read16(before[15] + 2))
                                : fmt::format("ARM {:08x}", inst))
                      << " differs:" << diff << "\nstate before: cpsr=" << fmt::format("{:08x}", cpsr_before)
                      << state << "\nlast instructions of the stream:";
        for (const std::string& line : history_) std::cout << "\n  " << line;
        std::cout << "\n";
    }

    testing::InstructionGenerator gen_;
    std::unique_ptr<Reference> reference_ = std::make_unique<Reference>();
    u64 streams_on_reference_ = 0;
    std::vector<std::string> history_;
    machine::GuestMemory memory_;
    Cpu cpu_;
};

TEST(ArmDifferential, RandomStreamsAgreeWithTheReference) {
    const u64 target = env_u64("TARVEL_DIFF_INSTRUCTIONS", 1000000);
    const u64 seed = env_u64("TARVEL_DIFF_SEED", 0x7A5E1);
    DifferentialRun run(seed);
    Totals totals;
    u64 streams = 0;
    while (totals.compared < target) {
        ++streams;
        if (!run.stream(totals)) break;
    }
    RecordProperty("compared", std::to_string(totals.compared));
    std::printf("compared %llu instructions (%llu ARM, %llu Thumb) in %llu streams; %llu kept out\n",
                static_cast<unsigned long long>(totals.compared), static_cast<unsigned long long>(totals.arm),
                static_cast<unsigned long long>(totals.thumb), static_cast<unsigned long long>(streams),
                static_cast<unsigned long long>(totals.excluded));
    for (const auto& [reason, count] : totals.reasons)
        std::printf("  kept out (%s): %llu\n", reason.c_str(), static_cast<unsigned long long>(count));
    EXPECT_GE(totals.compared, target);
    // The exclusions must stay a small share, or the comparison proves little.
    EXPECT_LT(totals.excluded * 4, totals.compared);
}

}  // namespace
}  // namespace tarvel::armv4t
