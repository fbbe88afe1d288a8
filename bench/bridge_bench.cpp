// Cost of the CPU bridge on top of the interpreter: the same guest loops run
// bare on Cpu::run and as a guest call through run_guest. The bridge hands
// plain code to the interpreter in long stretches, so the two should stay
// within a quarter of each other. A third pair adds a service call per loop
// pass to show the cost of the trap path.

#include <benchmark/benchmark.h>

#include <vector>

#include "machine/cpu_bridge.hpp"
#include "machine/machine.hpp"

namespace {

using namespace tarvel;
using namespace tarvel::machine;

constexpr u32 kCode = kDefaultCodeBase;
constexpr u32 kIterations = 100000;

void put32(std::vector<u8>& code, u32 value) {
    const size_t at = code.size();
    code.resize(at + 4);
    store_le32(code.data() + at, value);
}
void put16(std::vector<u8>& code, u16 value) {
    const size_t at = code.size();
    code.resize(at + 2);
    store_le16(code.data() + at, value);
}

// ARM: r2 counts down; arithmetic, a shifted operand and a conditional branch.
std::vector<u8> arm_alu_loop() {
    std::vector<u8> c;
    put32(c, 0xE2800001);  // loop: ADD r0, r0, #1
    put32(c, 0xE0211180);  //       EOR r1, r1, r0, LSL #3
    put32(c, 0xE2522001);  //       SUBS r2, r2, #1
    put32(c, 0x1AFFFFFB);  //       BNE loop
    put32(c, 0xE12FFF1E);  //       BX lr
    return c;
}

// Thumb: a counter in RAM loaded, bumped and stored each pass.
std::vector<u8> thumb_memory_loop() {
    std::vector<u8> c;
    put16(c, 0x6823);  // loop: LDR r3, [r4]
    put16(c, 0x3301);  //       ADDS r3, #1
    put16(c, 0x6023);  //       STR r3, [r4]
    put16(c, 0x3A01);  //       SUBS r2, #1
    put16(c, 0xD1FA);  //       BNE loop
    put16(c, 0x4770);  //       BX lr
    return c;
}

// Thumb: a BL to a leaf that returns with BX lr, every pass.
std::vector<u8> thumb_call_loop() {
    std::vector<u8> c;
    put16(c, 0xB500);  //       PUSH {lr}
    put16(c, 0xF000);  // loop: BL leaf (prefix)
    put16(c, 0xF804);  //       BL leaf (suffix)
    put16(c, 0x3A01);  //       SUBS r2, #1
    put16(c, 0xD1FB);  //       BNE loop
    put16(c, 0xBD00);  //       POP {pc}
    put16(c, 0x46C0);  //       NOP
    put16(c, 0x3001);  // leaf: ADDS r0, #1
    put16(c, 0x4770);  //       BX lr
    return c;
}

// Thumb: a service call (group 28 index 30) through BLX r5 every pass.
std::vector<u8> thumb_service_loop() {
    std::vector<u8> c;
    put16(c, 0xB500);  //       PUSH {lr}
    put16(c, 0x4D03);  //       LDR r5, =stub
    put16(c, 0x47A8);  // loop: BLX r5
    put16(c, 0x3A01);  //       SUBS r2, #1
    put16(c, 0xD1FC);  //       BNE loop
    put16(c, 0xBD00);  //       POP {pc}
    put16(c, 0x46C0);  //       NOP (pool alignment)
    put16(c, 0x46C0);
    put32(c, service_stub(28, 30));
    return c;
}

TarvelMachine machine_for(const std::vector<u8>& code) {
    cbe::CbeArchive archive;
    archive.bytes = code;
    archive.executable.code_length = static_cast<u32>(code.size());
    archive.executable.data_offset = 0x1000;
    auto built = build_machine(archive);
    if (!built) std::abort();
    TarvelMachine m = std::move(built).value();
    m.cpu.regs.set_cpsr(0x10);
    m.cpu.regs.r[13] = kStackTop;
    return m;
}

void prepare(TarvelMachine& m, bool thumb) {
    auto& regs = m.cpu.regs;
    regs.set_cpsr(thumb ? 0x30 : 0x10);
    regs.r[0] = 0;
    regs.r[1] = 0;
    regs.r[2] = kIterations;
    regs.r[4] = kRamBase;
    regs.r[13] = kStackTop;
    regs.r[14] = kReturnAddress;
    regs.r[15] = kCode;
}

// The loop on the bare interpreter: one run over the code region that ends when
// the function returns to the sentinel, outside the window.
void BM_Interpreter(benchmark::State& state, std::vector<u8> (*program)(), bool thumb) {
    TarvelMachine m = machine_for(program());
    const armv4t::RunLimits limits{~u64{0}, kCode, kCode + 0x1000};
    u64 steps = 0;
    for (auto _ : state) {
        prepare(m, thumb);
        const armv4t::RunResult run = m.cpu.run(m.memory, limits);
        if (run.stop != armv4t::RunStop::OutsideWindow) state.SkipWithError("the loop did not return");
        steps += run.steps;
    }
    state.SetItemsProcessed(static_cast<int64_t>(steps));
}

void BM_Bridge(benchmark::State& state, std::vector<u8> (*program)(), bool thumb) {
    TarvelMachine m = machine_for(program());
    const u64 before = m.instruction_count;
    for (auto _ : state) {
        prepare(m, thumb);
        if (!run_guest(m, 100000000)) state.SkipWithError("the guest call failed");
    }
    state.SetItemsProcessed(static_cast<int64_t>(m.instruction_count - before));
}

BENCHMARK_CAPTURE(BM_Interpreter, arm_alu, arm_alu_loop, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bridge, arm_alu, arm_alu_loop, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Interpreter, thumb_memory, thumb_memory_loop, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bridge, thumb_memory, thumb_memory_loop, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Interpreter, thumb_calls, thumb_call_loop, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bridge, thumb_calls, thumb_call_loop, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bridge, thumb_service_calls, thumb_service_loop, true)->Unit(benchmark::kMillisecond);

}  // namespace
