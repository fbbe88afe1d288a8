// Block transfers take a shortcut when the block lies in one fast page. The
// same random LDM/STM, PUSH/POP and LDMIA/STMIA run on two memories with equal
// contents: one where the data page is a fast page, and one where a small
// region in front of it keeps that page off the fast path, so that every word
// goes through the scalar accesses. Registers, flags and memory must agree.
// Either machine runs the instruction by step() or, as the run loop decodes it,
// through run() (the handler made for its form and register count).

#include <gtest/gtest.h>

#include <random>

#include "cpu_test_support.hpp"

namespace tarvel::armv4t::testing {
namespace {

// Bases lie in [kBlockArea + 0x100, kBlockArea + kPage - 0x100), so that every
// block (64 bytes at most either way) stays in the block area's page and clear
// of the small region at its end.
constexpr u32 kBlockArea = 0x00008000;
constexpr u32 kPage = machine::GuestMemory::kPageSize;
constexpr u32 kShadow = kBlockArea + kPage - 4;

TestMachine fast_machine(bool big_endian) { return TestMachine(big_endian); }

TestMachine word_by_word_machine(bool big_endian) {
    TestMachine m(big_endian);
    m.memory.clear_regions();
    m.memory.add_region(kShadow, 4);  // first to overlap the block area's page, so the page is not fast
    m.memory.add_region(0x00000000, 0x00010000);
    return m;
}

// Registers and flags, and the words in [from, to).
void agree(TestMachine& fast, TestMachine& slow, u32 from, u32 to, u32 inst) {
    const bool thumb = fast.cpu.regs.thumb();
    // run() leaves a loaded pc aligned, step() as loaded.
    const u32 pc_mask = thumb ? ~1u : ~3u;
    for (int n = 0; n < 16; ++n)
        ASSERT_EQ(fast.r(n) & (n == 15 ? pc_mask : ~0u), slow.r(n) & (n == 15 ? pc_mask : ~0u))
            << (thumb ? "Thumb " : "ARM ") << std::hex << inst << " r" << n;
    ASSERT_EQ(fast.cpu.regs.cpsr(), slow.cpu.regs.cpsr()) << std::hex << inst;
    for (u32 a = from & ~3u; a < to; a += 4)
        ASSERT_EQ(fast.memory.read32(a), slow.memory.read32(a)) << std::hex << inst << " at " << a;
}

TEST(BlockTransfer, FastPagesAndWordByWordAgree) {
    std::mt19937 gen(0xB10C);
    for (bool big_endian : {false, true}) {
        TestMachine fast = fast_machine(big_endian);
        TestMachine slow = word_by_word_machine(big_endian);
        ASSERT_NE(fast.memory.fast_read_span(kBlockArea, 4), nullptr);
        ASSERT_EQ(slow.memory.fast_read_span(kBlockArea, 4), nullptr);
        for (u32 a = kBlockArea - 0x100; a < kShadow; a += 4) {
            const u32 word = gen();
            fast.memory.write32(a, word);
            slow.memory.write32(a, word);
        }
        for (int round = 0; round < 3000; ++round) {
            const bool thumb = round % 2;
            u32 inst;
            if (thumb) {
                // PUSH/POP with or without lr/pc, or LDMIA/STMIA with any base.
                inst = (gen() % 2 ? 0xB400u | (gen() & 0x0900) : 0xC000u | (gen() & 0x0F00)) | (gen() & 0xFF);
                fast.thumb({static_cast<u16>(inst)}, kModeUser);
                slow.thumb({static_cast<u16>(inst)}, kModeUser);
            } else {
                // Any P, U, W, L and list, no S bit, a base other than r15;
                // now and then a condition other than "always".
                const u32 cond = gen() % 4 ? 0xE : gen() % 15;
                inst = (cond << 28) | 0x08000000u | (gen() & 0x01BFFFFF);
                if (((inst >> 16) & 15) == 15) inst &= ~0x00080000u;
                fast.arm({inst}, kModeUser);
                slow.arm({inst}, kModeUser);
                const u32 flags = gen() & kFlagsMask;
                fast.set_flags(flags);
                slow.set_flags(flags);
            }
            for (int n = 0; n < 15; ++n) {
                // Bases inside the area, word-aligned most of the time.
                const u32 value = kBlockArea + 0x100 + (gen() % 4 ? (gen() % (kPage / 4 - 0x80)) * 4 : gen() % (kPage - 0x200));
                fast.r(n) = slow.r(n) = value;
            }
            const u32 base_register = thumb ? ((inst & 0xF000) == 0xB000 ? 13 : (inst >> 8) & 7) : (inst >> 16) & 15;
            const u32 base = fast.r(base_register);
            const auto execute = [thumb](TestMachine& m, bool decoded) {
                if (!decoded) return m.step();
                const u32 size = thumb ? 2 : 4;
                return m.cpu.run(m.memory, {1, kCode, kCode + size}).steps == 1;
            };
            ASSERT_TRUE(execute(fast, round / 2 % 2));
            ASSERT_TRUE(execute(slow, round / 4 % 2));
            agree(fast, slow, base - 0x48, base + 0x48, inst);
        }
        agree(fast, slow, kBlockArea - 0x100, kShadow, 0);
    }
}

}  // namespace
}  // namespace tarvel::armv4t::testing
