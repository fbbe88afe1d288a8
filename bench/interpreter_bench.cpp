// Guest-instruction throughput of the interpreter on typical loops, and of
// Unicorn's JIT on the same loops for scale. Each loop program runs an outer
// loop r0 times and ends in a branch-to-self; guest_mips counts the guest
// instructions executed per second.

#include <unicorn/unicorn.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "armv4t/cpu.hpp"
#include "memory/guest_memory.hpp"

namespace tarvel::armv4t {
namespace {

constexpr u32 kCodeBase = 0x01000000;
constexpr u32 kStackTop = 0x02100000;
constexpr u32 kBuffer = 0x05000000;

struct LoopProgram {
    bool thumb;
    std::vector<u32> words;  // ARM words, or Thumb halfwords one per entry
    u32 outer;               // r0: outer iterations
};

// Assembled from the source in the comments (arm-none-eabi-as -mcpu=arm7tdmi).
const LoopProgram kArmAlu{false,
                          {
                              0xE1A06000,  // mov r6, r0
                              0xE3A00C01,  // 1: mov r0, #256
                              0xE0811002,  // 2: add r1, r1, r2
                              0xE0233181,  // eor r3, r3, r1, lsl #3
                              0xE18440A3,  // orr r4, r4, r3, lsr #1
                              0xE0045001,  // and r5, r4, r1
                              0xE2922007,  // adds r2, r2, #7
                              0xE0657142,  // rsb r7, r5, r2, asr #2
                              0xE2500001,  // subs r0, r0, #1
                              0x1AFFFFF7,  // bne 2b
                              0xE2566001,  // subs r6, r6, #1
                              0x1AFFFFF4,  // bne 1b
                              0xEAFFFFFE,  // b .
                          },
                          1000};
const LoopProgram kArmLoadStore{false,
                                {
                                    0xE1A06000,  // mov r6, r0
                                    0xE3A00C01,  // 1: mov r0, #256
                                    0xE1A01008,  // mov r1, r8
                                    0xE2882A01,  // add r2, r8, #4096
                                    0xE4913004,  // 2: ldr r3, [r1], #4
                                    0xE4823004,  // str r3, [r2], #4
                                    0xE5D14001,  // ldrb r4, [r1, #1]
                                    0xE1C240B2,  // strh r4, [r2, #2]
                                    0xE5915008,  // ldr r5, [r1, #8]
                                    0xE0877005,  // add r7, r7, r5
                                    0xE2500001,  // subs r0, r0, #1
                                    0x1AFFFFF7,  // bne 2b
                                    0xE2566001,  // subs r6, r6, #1
                                    0x1AFFFFF2,  // bne 1b
                                    0xEAFFFFFE,  // b .
                                },
                                1000};
const LoopProgram kArmBlock{false,
                            {
                                0xE1A06000,  // mov r6, r0
                                0xE3A00C01,  // 1: mov r0, #256
                                0xE92D40BE,  // 2: push {r1-r5, r7, lr}
                                0xE8BD40BE,  // pop {r1-r5, r7, lr}
                                0xE888003E,  // stm r8, {r1-r5}
                                0xE898003E,  // ldm r8, {r1-r5}
                                0xE2500001,  // subs r0, r0, #1
                                0x1AFFFFF9,  // bne 2b
                                0xE2566001,  // subs r6, r6, #1
                                0x1AFFFFF6,  // bne 1b
                                0xEAFFFFFE,  // b .
                            },
                            1500};
const LoopProgram kThumbAlu{true,
                            {
                                0x1C06,  // adds r6, r0, #0
                                0x20FF,  // 1: movs r0, #255
                                0x1889,  // 2: adds r1, r1, r2
                                0x404B,  // eors r3, r1
                                0x00DC,  // lsls r4, r3, #3
                                0x430C,  // orrs r4, r1
                                0x3207,  // adds r2, #7
                                0x4025,  // ands r5, r4
                                0x3801,  // subs r0, #1
                                0xD1F7,  // bne 2b
                                0x3E01,  // subs r6, #1
                                0xD1F4,  // bne 1b
                                0xE7FE,  // b .
                            },
                            1000};
const LoopProgram kThumbLoadStore{true,
                                  {
                                      0x1C06,  // adds r6, r0, #0
                                      0x20FF,  // 1: movs r0, #255
                                      0x4641,  // mov r1, r8
                                      0x4642,  // mov r2, r8
                                      0x3280,  // adds r2, #128
                                      0x3280,  // adds r2, #128
                                      0x680B,  // 2: ldr r3, [r1, #0]
                                      0x6013,  // str r3, [r2, #0]
                                      0x884C,  // ldrh r4, [r1, #2]
                                      0x7054,  // strb r4, [r2, #1]
                                      0x688D,  // ldr r5, [r1, #8]
                                      0x3104,  // adds r1, #4
                                      0x3204,  // adds r2, #4
                                      0x3801,  // subs r0, #1
                                      0xD1F6,  // bne 2b
                                      0x3E01,  // subs r6, #1
                                      0xD1EF,  // bne 1b
                                      0xE7FE,  // b .
                                  },
                                  1000};
const LoopProgram kThumbBlock{true,
                              {
                                  0x1C06,  // adds r6, r0, #0
                                  0x20FF,  // 1: movs r0, #255
                                  0xB53E,  // 2: push {r1-r5, lr}
                                  0xBC3E,  // pop {r1-r5}
                                  0xBC80,  // pop {r7}
                                  0x4647,  // mov r7, r8
                                  0xC71E,  // stmia r7!, {r1-r4}
                                  0x4647,  // mov r7, r8
                                  0xCF1E,  // ldmia r7!, {r1-r4}
                                  0x3801,  // subs r0, #1
                                  0xD1F6,  // bne 2b
                                  0x3E01,  // subs r6, #1
                                  0xD1F3,  // bne 1b
                                  0xE7FE,  // b .
                              },
                              1000};
const LoopProgram kThumbByteCopy{true,
                                 {
                                     0x1C06,  // adds r6, r0, #0
                                     0x2400,  // 1: movs r4, #0
                                     0x25FF,  // movs r5, #255
                                     0x4641,  // mov r1, r8
                                     0x4642,  // mov r2, r8
                                     0x32FF,  // adds r2, #255
                                     0x32FF,  // adds r2, #255
                                     0x5D0B,  // 2: ldrb r3, [r1, r4]
                                     0x5513,  // strb r3, [r2, r4]
                                     0x3401,  // adds r4, #1
                                     0x42AC,  // cmp r4, r5
                                     0xD1FA,  // bne 2b
                                     0x3E01,  // subs r6, #1
                                     0xD1F2,  // bne 1b
                                     0xE7FE,  // b .
                                 },
                                 1000};

u32 code_size(const LoopProgram& p) { return static_cast<u32>(p.words.size()) * (p.thumb ? 2 : 4); }
u32 idle_address(const LoopProgram& p) { return kCodeBase + code_size(p) - (p.thumb ? 2 : 4); }

std::vector<u8> code_bytes(const LoopProgram& p) {
    std::vector<u8> bytes;
    for (u32 word : p.words) {
        bytes.push_back(static_cast<u8>(word));
        bytes.push_back(static_cast<u8>(word >> 8));
        if (!p.thumb) {
            bytes.push_back(static_cast<u8>(word >> 16));
            bytes.push_back(static_cast<u8>(word >> 24));
        }
    }
    return bytes;
}

// The guest address space as the machine lays it out.
machine::GuestMemory machine_memory() {
    machine::GuestMemory memory;
    memory.add_region(kCodeBase, 0x10000);
    memory.add_region(0x02000000, 0x00100000);
    memory.add_region(0x05000000, 0x01000000);
    memory.add_region(0x0A000000, 0x00100000);
    memory.add_region(0x0C000000, 0x00100000);
    return memory;
}

void reset_registers(RegisterFile& regs, const LoopProgram& p) {
    regs.set_cpsr(kModeUser | (p.thumb ? kThumbBit : 0));
    for (u32& value : regs.r) value = 0;
    regs.r[0] = p.outer;
    regs.r[8] = kBuffer;
    regs.r[13] = kStackTop;
    regs.r[15] = kCodeBase;
}

void interpreter_loop(benchmark::State& state, const LoopProgram& p) {
    machine::GuestMemory memory = machine_memory();
    const std::vector<u8> code = code_bytes(p);
    memory.write_bytes(kCodeBase, code);
    Cpu cpu;
    // The window is the code image, as a supervisor would give it.
    const RunLimits limits{100'000'000, kCodeBase, kCodeBase + 0x10000};
    u64 instructions = 0;
    for (auto _ : state) {
        reset_registers(cpu.regs, p);
        const RunResult result = cpu.run(memory, limits);
        if (result.stop != RunStop::BridgeInstruction || result.last_pc != idle_address(p)) {
            state.SkipWithError("loop program did not reach its end");
            break;
        }
        instructions += result.steps;
    }
    state.counters["guest_mips"] = benchmark::Counter(static_cast<double>(instructions) / 1e6,
                                                      benchmark::Counter::kIsRate);
    // The total, for host instructions per guest instruction under a counting tool.
    state.counters["guest_instructions"] = static_cast<double>(instructions);
}

// The instruction count of one run, measured once on the interpreter.
u64 instructions_per_run(const LoopProgram& p) {
    machine::GuestMemory memory = machine_memory();
    memory.write_bytes(kCodeBase, code_bytes(p));
    Cpu cpu;
    reset_registers(cpu.regs, p);
    return cpu.run(memory, RunLimits{100'000'000, kCodeBase, kCodeBase + 0x10000}).steps;
}

void unicorn_loop(benchmark::State& state, const LoopProgram& p) {
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc) != UC_ERR_OK) {
        state.SkipWithError("Unicorn is not available");
        return;
    }
    uc_ctl_set_cpu_model(uc, UC_CPU_ARM_TI925T);
    uc_mem_map(uc, kCodeBase, 0x10000, UC_PROT_ALL);
    uc_mem_map(uc, 0x02000000, 0x00100000, UC_PROT_ALL);
    uc_mem_map(uc, 0x05000000, 0x01000000, UC_PROT_ALL);
    const std::vector<u8> code = code_bytes(p);
    uc_mem_write(uc, kCodeBase, code.data(), code.size());
    const u64 per_run = instructions_per_run(p);
    u64 instructions = 0;
    for (auto _ : state) {
        u32 cpsr = kModeUser | (p.thumb ? kThumbBit : 0);
        uc_reg_write(uc, UC_ARM_REG_CPSR, &cpsr);
        const int regs[] = {UC_ARM_REG_R0, UC_ARM_REG_R8, UC_ARM_REG_SP};
        const u32 values[] = {p.outer, kBuffer, kStackTop};
        for (int i = 0; i < 3; ++i) uc_reg_write(uc, regs[i], &values[i]);
        if (uc_emu_start(uc, kCodeBase | (p.thumb ? 1 : 0), idle_address(p), 0, 0) != UC_ERR_OK) {
            state.SkipWithError("Unicorn failed to run the loop");
            break;
        }
        instructions += per_run;
    }
    state.counters["guest_mips"] = benchmark::Counter(static_cast<double>(instructions) / 1e6,
                                                      benchmark::Counter::kIsRate);
    uc_close(uc);
}

#define TARVEL_LOOP_BENCHMARKS(name, program)                                                  \
    void BM_Interpreter_##name(benchmark::State& state) { interpreter_loop(state, program); } \
    BENCHMARK(BM_Interpreter_##name)->Unit(benchmark::kMillisecond);                          \
    void BM_Unicorn_##name(benchmark::State& state) { unicorn_loop(state, program); }         \
    BENCHMARK(BM_Unicorn_##name)->Unit(benchmark::kMillisecond)

TARVEL_LOOP_BENCHMARKS(ArmAlu, kArmAlu);
TARVEL_LOOP_BENCHMARKS(ArmLoadStore, kArmLoadStore);
TARVEL_LOOP_BENCHMARKS(ArmPushPopLdmStm, kArmBlock);
TARVEL_LOOP_BENCHMARKS(ThumbAlu, kThumbAlu);
TARVEL_LOOP_BENCHMARKS(ThumbLoadStore, kThumbLoadStore);
TARVEL_LOOP_BENCHMARKS(ThumbPushPopLdmStm, kThumbBlock);
TARVEL_LOOP_BENCHMARKS(ThumbByteCopy, kThumbByteCopy);

}  // namespace
}  // namespace tarvel::armv4t
