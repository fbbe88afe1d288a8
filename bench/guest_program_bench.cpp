// A compiled C program as the interpreter meets real applications: calls,
// branches, a switch, loads and stores, multiplies and runtime divides (see
// bench/guest/workload.c), in Thumb and ARM code and both byte orders. Each
// iteration boots a freshly built machine, which runs the workload from the
// application's entry through the CPU bridge; the rate counter is guest
// instructions per second.

#include <benchmark/benchmark.h>

#include <string>

#include "cbe/archive.hpp"
#include "machine/machine.hpp"

namespace {

using namespace tarvel;

void BM_GuestProgram(benchmark::State& state, const std::string& path) {
    if (path.empty()) {
        state.SkipWithError("the guest program was not built (no ARM cross compiler)");
        return;
    }
    auto archive = cbe::load_archive(path);
    if (!archive) {
        state.SkipWithError(archive.error().to_string().c_str());
        return;
    }
    u64 instructions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto machine = machine::build_machine(*archive);
        if (!machine) {
            state.SkipWithError(machine.error().to_string().c_str());
            return;
        }
        state.ResumeTiming();
        const Status booted = machine::boot(*machine, 1'000'000'000);
        if (!booted) {
            state.SkipWithError(booted.error().to_string().c_str());
            return;
        }
        instructions += machine->instruction_count;
    }
    state.counters["guest_MIPS"] =
        benchmark::Counter(static_cast<double>(instructions) / 1e6, benchmark::Counter::kIsRate);
    state.counters["guest_instructions"] = static_cast<double>(instructions) / static_cast<double>(state.iterations());
}

#ifndef BENCH_WORKLOAD_THUMB_LITTLE_CBE
#define BENCH_WORKLOAD_THUMB_LITTLE_CBE ""
#define BENCH_WORKLOAD_THUMB_BIG_CBE ""
#define BENCH_WORKLOAD_ARM_LITTLE_CBE ""
#define BENCH_WORKLOAD_ARM_BIG_CBE ""
#endif

BENCHMARK_CAPTURE(BM_GuestProgram, thumb_le, std::string(BENCH_WORKLOAD_THUMB_LITTLE_CBE))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GuestProgram, thumb_be, std::string(BENCH_WORKLOAD_THUMB_BIG_CBE))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GuestProgram, arm_le, std::string(BENCH_WORKLOAD_ARM_LITTLE_CBE))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GuestProgram, arm_be, std::string(BENCH_WORKLOAD_ARM_BIG_CBE))->Unit(benchmark::kMillisecond);

}  // namespace
