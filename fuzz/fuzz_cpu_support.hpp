#pragma once
// Shared by the code-execution fuzz targets: a guest laid out like the machine's
// (code image, stack, RAM, system area, service stubs), an input split into a
// register state and code, and a capped run both step by step and through the
// fast run loop.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "armv4t/cpu.hpp"
#include "common/log.hpp"
#include "memory/guest_memory.hpp"

namespace tarvel::fuzz {

inline constexpr u32 kCodeBase = 0x01000000;
inline constexpr u32 kCodeSize = 0x10000;

inline machine::GuestMemory& fuzz_memory() {
    static machine::GuestMemory memory = [] {
        machine::GuestMemory m;
        m.add_region(kCodeBase, kCodeSize);
        m.add_region(0x020F0000, 0x00010000);
        m.add_region(0x05000000, 0x00040000);
        m.add_region(0x0A000000, 0x00010000);
        m.add_region(0x0C000000, 0x00010000, /*read_only=*/true);
        return m;
    }();
    return memory;
}

// libFuzzer's default (entropic) schedule keeps a count per feature and looks
// each feature of a run up among the rarest ones; a run of random code hits
// thousands of features, so that bookkeeping took most of the time (about 2,100
// inputs a second against 9,200 with the plain schedule, which also reached more
// coverage in the same time). The plain schedule is the default for these
// targets; an -entropic flag on the command line still decides.
inline void prefer_plain_schedule(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i)
        if (std::strncmp((*argv)[i], "-entropic=", 10) == 0) return;
    static std::vector<char*> args;
    static char plain[] = "-entropic=0";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, plain);
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
}

inline u32 take_u32(const uint8_t*& data, size_t& size) {
    u32 value = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size) value |= u32{*data} << (8 * i);
    return value;
}

// Zeroes what the previous input wrote (its pages, as the write watch noted
// them, and its code) and arms the watch for the next one.
inline void reset_memory(machine::GuestMemory& memory, size_t code_bytes) {
    for (u32 page : memory.written_pages()) {
        u8* host = memory.host_write_view(page << machine::GuestMemory::kPageBits, machine::GuestMemory::kPageSize);
        if (host) std::fill_n(host, machine::GuestMemory::kPageSize, u8{0});
    }
    if (u8* code = memory.host_write_view(kCodeBase, static_cast<u32>(code_bytes)))
        std::fill_n(code, code_bytes, u8{0});
    memory.clear_unmapped_accesses();
    memory.watch_writes();
}

inline void execute_as_code(const uint8_t* data, size_t size, bool thumb) {
    static const bool quiet = [] {
        log::set_sink([](log::Level, std::string_view, std::string_view) {});
        return true;
    }();
    (void)quiet;
    machine::GuestMemory& memory = fuzz_memory();
    // The code bytes the previous input placed (written through write_bytes, so
    // the watch does not see them).
    static size_t previous_code_bytes = kCodeSize;
    reset_memory(memory, previous_code_bytes);

    // Header: flags byte, then registers; the rest is code.
    const u8 flags = size > 0 ? data[0] : 0;
    if (size > 0) {
        ++data;
        --size;
    }
    memory.set_big_endian(flags & 1);
    // One interpreter for every input keeps its decoded blocks (they are checked
    // against the code before use), as a running machine keeps them.
    static armv4t::Cpu cpu;
    cpu.regs = armv4t::RegisterFile{};
    const u32 modes[] = {armv4t::kModeUser, armv4t::kModeSystem, armv4t::kModeSupervisor, armv4t::kModeFiq};
    cpu.regs.set_cpsr((u32{flags} << 24 & armv4t::kFlagsMask) | modes[(flags >> 1) & 3] |
                      (thumb ? armv4t::kThumbBit : 0));
    // Short inputs are stretched: a generator seeded from the input supplies the
    // registers the input does not give and more code after it, so that even the
    // first small inputs run long stretches of varied code.
    u64 seed = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 0x100000001b3ull;
    auto next_random = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return static_cast<u32>(seed >> 16);
    };
    const size_t register_count = std::min<size_t>(size / 16, 15);
    for (size_t n = 0; n < 15; ++n) {
        if (n < register_count) {
            cpu.regs.r[n] = take_u32(data, size);
        } else {
            // Mostly pointers into RAM or the stack, so that memory instructions land.
            const u32 value = next_random();
            cpu.regs.r[n] = (value & 3) == 0 ? value : (value & 1 ? 0x05000000 : 0x020F0000) + (value >> 16);
        }
    }
    const size_t code_length = std::min<size_t>(size, kCodeSize);
    memory.write_bytes(kCodeBase, {data, code_length});
    constexpr u32 kStretchedCode = 512;
    if (code_length < kStretchedCode) {
        u8 stretch[kStretchedCode];
        const u32 from = static_cast<u32>(code_length) & ~3u;
        for (u32 offset = from; offset < kStretchedCode; offset += 4) store_le32(stretch + offset, next_random());
        memory.write_bytes(kCodeBase + from, {stretch + from, kStretchedCode - from});
    }
    // The input ends when the pc leaves the code it supplied (stretched or not):
    // beyond lie only zeros or what the code stored, and unmapped pages, where
    // every fetch would be the same fault.
    const u32 code_end = kCodeBase + std::max<u32>(kStretchedCode, (static_cast<u32>(code_length) + 3) & ~3u);
    previous_code_bytes = code_end - kCodeBase;
    cpu.regs.r[15] = kCodeBase;

    constexpr u64 kStepCap = 4096;
    const auto inside = [&] { return cpu.regs.r[15] - kCodeBase < code_end - kCodeBase; };
    if (flags & 0x08) {
        u64 executed = 0;
        while (executed < kStepCap) {
            // What is left of the cap, so that both ways stop after as many steps.
            const armv4t::RunResult result = cpu.run(memory, {kStepCap - executed, kCodeBase, code_end});
            executed += result.steps;
            if (result.stop == armv4t::RunStop::StepLimit || result.stop == armv4t::RunStop::OutsideWindow) break;
            // An instruction the caller handles: take one plain step there (as a
            // supervisor would), and stop when that leaves the code.
            if (!inside()) break;
            cpu.step(memory);
            ++executed;
            if (!inside()) break;
        }
    } else {
        for (u64 i = 0; i < kStepCap && inside(); ++i) cpu.step(memory);
    }
    // The register file stays consistent whatever happened.
    armv4t::RegisterFile copy;
    if (!copy.restore(cpu.regs.slots(), cpu.regs.bank()).ok()) __builtin_trap();
}

}  // namespace tarvel::fuzz
