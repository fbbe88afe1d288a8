// The string library through the service dispatcher: a 4 KiB memory copy and
// the length of a 4 KiB string. Items are bytes, so the rate reads as bytes
// per second and the cost per byte is the inverse.

#include <benchmark/benchmark.h>

#include <vector>

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"

namespace {

using namespace tarvel;
using namespace tarvel::machine;

constexpr u32 kStringGroup = 6;
constexpr u32 kSource = 0x05100000;
constexpr u32 kDestination = 0x05200000;
constexpr u32 kBytes = 4096;

TarvelMachine machine_with_text() {
    TarvelMachine m;
    m.memory.add_region(kStackBase, kStackSize);
    m.memory.add_region(kRamBase, kRamSize);
    std::vector<u8> text(kBytes, 'a');
    m.memory.write_bytes(kSource, text);
    m.memory.write8(kSource + kBytes, 0);
    m.cpu.regs.r[13] = kStackTop;
    return m;
}

void BM_MemoryCopy4KiB(benchmark::State& state) {
    TarvelMachine m = machine_with_text();
    for (auto _ : state) {
        m.cpu.regs.r[0] = kDestination;
        m.cpu.regs.r[1] = kSource;
        m.cpu.regs.r[2] = kBytes;
        services::dispatch_service(m, kStringGroup, 0);
        benchmark::DoNotOptimize(m.cpu.regs.r[0]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_MemoryCopy4KiB);

void BM_StringLength4KiB(benchmark::State& state) {
    TarvelMachine m = machine_with_text();
    for (auto _ : state) {
        m.cpu.regs.r[0] = kSource;
        services::dispatch_service(m, kStringGroup, 1);
        if (m.cpu.regs.r[0] != kBytes) state.SkipWithError("wrong length");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_StringLength4KiB);

}  // namespace
