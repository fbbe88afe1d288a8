// Cost of presenting one video frame: the whole 240 x 400 guest screen
// converted to XRGB8888, upright and turned for landscape, in both guest byte
// orders. This runs 60 times a second, so it should stay well under 0.2 ms.

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <vector>

#include "libretro/presentation.hpp"

namespace {

using namespace tarvel;
using namespace tarvel::libretro;

std::vector<u8> make_screen() {
    std::vector<u8> bytes(machine::kScreenBufferBytes);
    for (size_t i = 0; i < machine::kScreenPixels; ++i) store_le16(&bytes[2 * i], static_cast<u16>(i * 2654435761u >> 7));
    return bytes;
}

void BM_PresentFrame(benchmark::State& state, Orientation orientation, bool big_endian) {
    const std::vector<u8> screen = make_screen();
    const FrameGeometry geometry = frame_geometry(orientation);
    std::vector<u32> frame(machine::kScreenPixels);
    for (auto _ : state) {
        render_frame(screen.data(), screen.size(), big_endian, orientation, frame.data(), geometry.pitch_bytes);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * machine::kScreenPixels));
}
BENCHMARK_CAPTURE(BM_PresentFrame, portrait_le, Orientation::Portrait, false);
BENCHMARK_CAPTURE(BM_PresentFrame, portrait_be, Orientation::Portrait, true);
BENCHMARK_CAPTURE(BM_PresentFrame, landscape_le, Orientation::Landscape, false);
BENCHMARK_CAPTURE(BM_PresentFrame, landscape_be, Orientation::Landscape, true);

// For comparison: the same portrait conversion through a 65536-entry table
// (256 KiB, more than the data cache of the small devices this runs on).
void BM_PortraitWithLookupTable(benchmark::State& state) {
    auto table = std::make_unique<std::array<u32, 65536>>();
    for (u32 v = 0; v < 65536; ++v) (*table)[v] = rgb565_to_xrgb8888(static_cast<u16>(v));
    const std::vector<u8> screen = make_screen();
    std::vector<u32> frame(machine::kScreenPixels);
    for (auto _ : state) {
        for (size_t i = 0; i < machine::kScreenPixels; ++i) frame[i] = (*table)[load_le16(&screen[2 * i])];
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * machine::kScreenPixels));
}
BENCHMARK(BM_PortraitWithLookupTable);

class ToneSource final : public AudioSampleSource {
public:
    size_t take_samples(std::span<i16> out) override {
        for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<i16>((phase_++ * 977) & 0x7FFF);
        return out.size();
    }

private:
    u32 phase_ = 0;
};

void BM_AudioBatch(benchmark::State& state) {
    ToneSource source;
    std::array<i16, kAudioBatchSamples> out;
    for (auto _ : state) {
        build_audio_batch(&source, 70, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_AudioBatch);

}  // namespace
