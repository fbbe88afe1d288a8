#pragma once
// A small machine for interpreter tests: code at 0x1000, data at 0x8000, and
// helpers to place instructions and step them; a fixture around it that
// captures the log.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "armv4t/cpu.hpp"
#include "memory/guest_memory.hpp"
#include "support/log_capture.hpp"

namespace tarvel::armv4t::testing {

inline constexpr u32 kCode = 0x00001000;
inline constexpr u32 kData = 0x00008000;

struct TestMachine {
    explicit TestMachine(bool big_endian = false) : memory(big_endian) {
        memory.add_region(0x00000000, 0x00010000);  // vectors, code and data
        cpu.regs.set_cpsr(kModeSystem);
        cpu.regs.r[15] = kCode;
    }

    // Places ARM words (or Thumb halfwords) at kCode and points the pc there
    // in `cpsr_mode`, in that instruction set; step() then runs them.
    void arm(std::initializer_list<u32> words, u32 cpsr_mode = kModeSystem) { place(words, cpsr_mode, 0); }
    void thumb(std::initializer_list<u16> halfwords, u32 cpsr_mode = kModeSystem) {
        place(halfwords, cpsr_mode, kThumbBit);
    }
    bool step() { return cpu.step(memory); }
    void steps(int n) {
        for (int i = 0; i < n; ++i) step();
    }

    u32& r(int n) { return cpu.regs.r[n]; }
    u32 flags() const { return cpu.regs.cpsr() & kFlagsMask; }
    void set_flags(u32 nzcv) { cpu.regs.set_flags(nzcv); }

    machine::GuestMemory memory;
    Cpu cpu;

private:
    template <typename Unit>
    void place(std::initializer_list<Unit> units, u32 cpsr_mode, u32 thumb_bit) {
        u32 address = kCode;
        for (Unit unit : units) {
            if constexpr (sizeof(Unit) == 4) memory.write32(address, unit);
            else memory.write16(address, unit);
            address += sizeof(Unit);
        }
        cpu.regs.set_cpsr((cpu.regs.cpsr() & ~(kModeMask | kThumbBit)) | cpsr_mode | thumb_bit);
        cpu.regs.r[15] = kCode;
    }
};

// Fixture of the ARM and Thumb instruction tests: a fresh machine, and the log
// lines written during the test in `logged`.
struct CpuTest : ::testing::Test {
    test::LogCapture capture{log::Level::Info};
    const std::vector<std::string>& logged = capture.lines();
    TestMachine m;
};

}  // namespace tarvel::armv4t::testing
