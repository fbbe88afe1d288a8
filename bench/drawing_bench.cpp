// Drawing primitives on guest memory: a full-screen opaque blit, a transparent
// sprite blit and a full-screen fill. Items are pixels, so the rate reads as
// pixels per second.

#include <benchmark/benchmark.h>

#include "machine/drawing.hpp"
#include "memory/guest_memory.hpp"
#include "machine/machine.hpp"

namespace {

using namespace tarvel;
using namespace tarvel::machine;

constexpr u32 kImageRecord = 0x05100000;
constexpr u32 kImagePixels = 0x05100100;

// RAM with an image record of the given size; every `hole`-th pixel is 0
// (transparent), the rest a pattern.
GuestMemory memory_with_image(u32 width, u32 height, u32 hole) {
    GuestMemory memory;
    memory.add_region(kRamBase, kRamSize);
    memory.write32(kImageRecord, kImagePixels);
    memory.write16(kImageRecord + 4, static_cast<u16>(width));
    memory.write16(kImageRecord + 6, static_cast<u16>(height));
    const u32 stride = row_stride(width);
    for (u32 i = 0; i < stride * height; ++i)
        memory.write16(kImagePixels + 2 * i, hole && i % hole == 0 ? 0 : static_cast<u16>(i * 2654435761u >> 16 | 1));
    return memory;
}

void BM_FullScreenOpaqueBlit(benchmark::State& state) {
    GuestMemory memory = memory_with_image(kScreenWidth, kScreenHeight, 0);
    const BlitRequest request{kScreenSurfaceRecord, kImageRecord, 0, 0, kScreenWidth, kScreenHeight, 0, 0, false};
    for (auto _ : state) {
        blit(memory, request);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kScreenWidth * kScreenHeight);
}
BENCHMARK(BM_FullScreenOpaqueBlit);

void BM_TransparentSpriteBlit(benchmark::State& state) {
    GuestMemory memory = memory_with_image(64, 64, 3);
    // Partly off the right edge, so the clipped path is the one measured.
    const BlitRequest request{kScreenSurfaceRecord, kImageRecord, 0, 0, 64, 64, 200, 100, true};
    for (auto _ : state) {
        blit(memory, request);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 40 * 64);
}
BENCHMARK(BM_TransparentSpriteBlit);

void BM_FullScreenFill(benchmark::State& state) {
    GuestMemory memory;
    memory.add_region(kRamBase, kRamSize);
    u16 colour = 0;
    for (auto _ : state) {
        fill_screen(memory, 0, 0, kScreenWidth, kScreenHeight, ++colour);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kScreenWidth * kScreenHeight);
}
BENCHMARK(BM_FullScreenFill);

}  // namespace
