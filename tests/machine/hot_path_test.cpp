// The bridge's run loop runs millions of passes a frame: once every service a
// guest uses has been seen, neither plain code nor service calls may allocate.
// This executable counts every operator new to check that.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "support/test_machine.hpp"
#include "machine/cpu_bridge.hpp"

// The address sanitizer keeps its own books on operator new and delete, so the
// count is taken in plain builds only.
#if defined(__SANITIZE_ADDRESS__)
#define TARVEL_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVEL_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef TARVEL_COUNT_ALLOCATIONS
#define TARVEL_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<unsigned long long> g_allocations{0};
}

#if TARVEL_COUNT_ALLOCATIONS
// Replacements of the global allocation functions; GCC cannot tell them from
// a mismatched pair when it sees both in one file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    std::abort();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
#endif

namespace tarvel::machine {
namespace {

using test::make_machine;
using test::ThumbProgram;

// Runs the loop below `iterations` times (after a warm-up run in which every
// service is seen for the first time) and returns the allocations it made.
unsigned long long allocations_of_run(u32 iterations) {
    ThumbProgram p(kDefaultCodeBase);
    p.push_lr();
    p.lsls(5, 0, 0);  // r5 = iterations
    p.label("loop");
    p.call_service(28, 30);      // decoded service call: counted, recorded, dispatched
    p.call_service(7, 2);        // timer group
    p.call_address(0x0C0FFFFC);  // fixed entry
    p.movs(1, 20);
    p.label("inner");            // a stretch of plain code
    p.subs(1, 1);
    p.beq_skip(1);
    p.b_back("inner");
    p.subs(5, 1);
    p.beq_skip(1);
    p.b_back("loop");
    p.pop_pc();
    TarvelMachine m = make_machine(p.finish());
    m.cpu.regs.set_cpsr(0x10);
    m.cpu.regs.r[13] = kStackTop;
    EXPECT_TRUE(call_guest(m, kDefaultCodeBase | 1, 1, 0, 0, 1000000));

    const unsigned long long before = g_allocations.load();
    const Status status = call_guest(m, kDefaultCodeBase | 1, iterations, 0, 0, 1000000);
    const unsigned long long allocated = g_allocations.load() - before;
    EXPECT_TRUE(status);
    EXPECT_EQ((m.service_call_counts[ServiceKey{28, 30}]), iterations + 1);
    return allocated;
}

TEST(HotPath, PassesAndServiceCallsAllocateNothingOnceWarm) {
    if (!TARVEL_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under the address sanitizer";
    // Whatever a guest call costs once (its result), it must not grow with the
    // number of instructions, traps and bridge-performed branches it runs.
    EXPECT_EQ(allocations_of_run(400), allocations_of_run(10));
    EXPECT_LE(allocations_of_run(10), 1u);
}

}  // namespace
}  // namespace tarvel::machine
