// Audio engine costs: rendering one video frame's 735 stereo frames from a
// full queue (runs 60 times a second, should be a few microseconds), and
// submitting a 10 s 22050 Hz mono WAV (decode and resample to 44100 Hz stereo).

#include <benchmark/benchmark.h>

#include <vector>

#include "media/audio/audio_engine.hpp"

namespace {

using namespace tarvel;

std::vector<u8> mono_wav(u32 rate, u32 seconds) {
    const u32 frames = rate * seconds;
    std::vector<u8> b{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0};
    auto put32 = [&](u32 v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<u8>(v >> (8 * i)));
    };
    put32(rate);
    put32(rate * 2);
    b.insert(b.end(), {2, 0, 16, 0, 'd', 'a', 't', 'a'});
    put32(frames * 2);
    for (u32 i = 0; i < frames; ++i) {
        const auto v = static_cast<u16>(static_cast<i16>((i * 37) % 20000 - 10000));
        b.push_back(static_cast<u8>(v));
        b.push_back(static_cast<u8>(v >> 8));
    }
    return b;
}

void BM_AudioRenderFrame(benchmark::State& state) {
    AudioEngine engine;
    const std::vector<u8> sound = mono_wav(22050, 10);
    engine.set_volume(70);
    std::array<i16, kRenderValues> out{};
    for (auto _ : state) {
        if (engine.queue.size() < kRenderValues) {
            state.PauseTiming();
            (void)engine.submit(sound, 0);
            state.ResumeTiming();
        }
        engine.render_frame(out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_AudioRenderFrame);

void BM_AudioSubmitWav10s(benchmark::State& state) {
    const std::vector<u8> sound = mono_wav(22050, 10);
    for (auto _ : state) {
        AudioEngine engine;
        if (!engine.submit(sound, 0)) state.SkipWithError("submit failed");
        benchmark::DoNotOptimize(engine.queue.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sound.size()));
}
BENCHMARK(BM_AudioSubmitWav10s)->Unit(benchmark::kMillisecond);

}  // namespace
