#pragma once
// Small hand-assembled guest programs: a Thumb assembler for the handful of
// instructions the tests need, with named labels and a literal pool.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "machine/machine.hpp"

namespace tarvel::test {

class ThumbProgram {
public:
    explicit ThumbProgram(u32 base) : base_(base) {}

    u32 here() const { return base_ + static_cast<u32>(code_.size() * 2); }
    void label(const std::string& name) { labels_[name] = here(); }
    // Address of a label (with the Thumb bit when `thumb`), known after finish().
    u32 address(const std::string& name, bool thumb = true) const {
        return labels_.at(name) | (thumb ? 1u : 0u);
    }

    void emit(u16 h) { code_.push_back(h); }
    void movs(unsigned rd, u32 imm8) { emit(static_cast<u16>(0x2000 | (rd << 8) | (imm8 & 0xFF))); }
    void adds(unsigned rd, u32 imm8) { emit(static_cast<u16>(0x3000 | (rd << 8) | (imm8 & 0xFF))); }
    void subs(unsigned rd, u32 imm8) { emit(static_cast<u16>(0x3800 | (rd << 8) | (imm8 & 0xFF))); }
    void lsls(unsigned rd, unsigned rm, u32 imm5) { emit(static_cast<u16>((imm5 << 6) | (rm << 3) | rd)); }
    void add_reg(unsigned rd, unsigned rn, unsigned rm) { emit(static_cast<u16>(0x1800 | (rm << 6) | (rn << 3) | rd)); }
    void mov(unsigned rd, unsigned rm) {  // MOV (high registers allowed)
        emit(static_cast<u16>(0x4600 | ((rd & 8) << 4) | (rm << 3) | (rd & 7)));
    }
    void bx(unsigned rm) { emit(static_cast<u16>(0x4700 | (rm << 3))); }
    void blx(unsigned rm) { emit(static_cast<u16>(0x4780 | (rm << 3))); }
    void push_lr() { emit(0xB500); }
    void pop_pc() { emit(0xBD00); }
    void push(u32 low_mask) { emit(static_cast<u16>(0xB400 | low_mask)); }
    void pop(u32 low_mask) { emit(static_cast<u16>(0xBC00 | low_mask)); }
    void str(unsigned rd, unsigned rn, u32 offset) { emit(static_cast<u16>(0x6000 | ((offset / 4) << 6) | (rn << 3) | rd)); }
    void ldr(unsigned rd, unsigned rn, u32 offset) { emit(static_cast<u16>(0x6800 | ((offset / 4) << 6) | (rn << 3) | rd)); }
    void strh(unsigned rd, unsigned rn, u32 offset) { emit(static_cast<u16>(0x8000 | ((offset / 2) << 6) | (rn << 3) | rd)); }
    void str_sp(unsigned rd, u32 offset) { emit(static_cast<u16>(0x9000 | (rd << 8) | (offset / 4))); }
    void sub_sp(u32 bytes) { emit(static_cast<u16>(0xB080 | (bytes / 4))); }
    void add_sp(u32 bytes) { emit(static_cast<u16>(0xB000 | (bytes / 4))); }
    void cmp(unsigned rn, u32 imm8) { emit(static_cast<u16>(0x2800 | (rn << 8) | imm8)); }
    void idle_loop() { emit(0xE7FE); }
    void swi(u32 imm8) { emit(static_cast<u16>(0xDF00 | imm8)); }
    // Unconditional branch to a label defined earlier.
    void b_back(const std::string& name) {
        const i32 offset = static_cast<i32>(labels_.at(name)) - static_cast<i32>(here() + 4);
        emit(static_cast<u16>(0xE000 | ((offset >> 1) & 0x7FF)));
    }
    // BEQ/BNE forward over `halfwords` instructions.
    void beq_skip(u32 halfwords) { emit(static_cast<u16>(0xD000 | ((halfwords - 1) & 0xFF))); }
    void bne_skip(u32 halfwords) { emit(static_cast<u16>(0xD100 | ((halfwords - 1) & 0xFF))); }

    // LDR rd, =value (literal pool at the end of the program).
    void ldr_const(unsigned rd, u32 value) { load_literal(rd, Literal{value, {}}); }
    // LDR rd, =label (| 1 for Thumb code labels when `thumb`).
    void ldr_label(unsigned rd, const std::string& name, bool thumb = true) {
        load_literal(rd, Literal{thumb ? 1u : 0u, name});
    }
    // Calls service (group, index) through its stub with BLX r4.
    void call_service(u32 group, u32 index) {
        ldr_const(4, machine::service_stub(group, index));
        blx(4);
    }
    void call_address(u32 address) {
        ldr_const(4, address);
        blx(4);
    }

    // The program bytes in the requested byte order, literal pool included.
    std::vector<u8> finish(bool big_endian = false) {
        if (code_.size() % 2) emit(0x46C0);  // NOP to align the pool
        const u32 pool = here();
        std::vector<u8> out(code_.size() * 2 + literals_.size() * 4);
        for (size_t i = 0; i < code_.size(); ++i) {
            u16 h = code_[i];
            for (const Use& use : uses_) {
                if (use.at != i) continue;
                const u32 pc = base_ + static_cast<u32>(i * 2);
                const u32 target = pool + static_cast<u32>(use.literal * 4);
                const u32 offset = target - ((pc + 4) & ~3u);
                EXPECT_LT(offset / 4, 256u) << "literal out of reach";
                h = static_cast<u16>(h | (offset / 4));
            }
            store16(out.data() + i * 2, h, big_endian);
        }
        for (size_t i = 0; i < literals_.size(); ++i) {
            const Literal& l = literals_[i];
            const u32 value = l.label.empty() ? l.value : (labels_.at(l.label) | l.value);
            store32(out.data() + code_.size() * 2 + i * 4, value, big_endian);
        }
        return out;
    }

private:
    struct Literal {
        u32 value;
        std::string label;
    };
    struct Use {
        size_t at;
        size_t literal;
    };
    void load_literal(unsigned rd, Literal literal) {
        uses_.push_back(Use{code_.size(), literals_.size()});
        literals_.push_back(std::move(literal));
        emit(static_cast<u16>(0x4800 | (rd << 8)));
    }

    u32 base_;
    std::vector<u16> code_;
    std::vector<Literal> literals_;
    std::vector<Use> uses_;
    std::map<std::string, u32> labels_;
};

}  // namespace tarvel::test
