// The enhanced sound's cost per video frame (735 stereo frames; a frame may
// spend at most 2 ms on audio): a looping 8 kHz mono WAV converted by linear
// interpolation and by the band-limited resampler, and a looping three-part
// tune rendered by the built-in synthesiser and by FluidSynth with the
// General MIDI SoundFont.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "media/audio/audio_engine.hpp"
#include "media/audio/sound_font.hpp"

namespace {

using namespace tarvel;

std::vector<u8> tone_wav(u32 rate, u32 seconds) {
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
        const auto v = static_cast<u16>(static_cast<i16>(12000 * std::sin(i * 0.7)));
        b.push_back(static_cast<u8>(v));
        b.push_back(static_cast<u8>(v >> 8));
    }
    return b;
}

// Eight bars of three parts (lead, bass, chords) at 120 quarters a minute,
// in the 5-byte resource wrapper.
std::vector<u8> tune() {
    std::vector<u8> track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC0, 80, 0x00, 0xC1, 38, 0x00, 0xC2, 11};
    for (int beat = 0; beat < 32; ++beat) {
        const u8 lead = static_cast<u8>(69 + (beat * 5) % 12), bass = static_cast<u8>(45 + (beat / 4) % 5);
        const u8 notes[] = {lead, bass, static_cast<u8>(lead - 12), static_cast<u8>(lead - 8)};
        for (int i = 0; i < 4; ++i) track.insert(track.end(), {0x00, static_cast<u8>(0x90 | std::min(i, 2)), notes[i], 90});
        track.insert(track.end(), {0x60});  // a quarter later
        for (int i = 0; i < 4; ++i) {
            track.insert(track.end(), {static_cast<u8>(0x80 | std::min(i, 2)), notes[i], 0x40});
            if (i < 3) track.push_back(0x00);
        }
        track.push_back(0x00);
        track.insert(track.end(), {0xFF, 0x01, 0x00});  // an empty text event carries the last delta
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<u8> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
    const auto n = static_cast<u32>(track.size());
    smf.insert(smf.end(), {static_cast<u8>(n >> 24), static_cast<u8>(n >> 16), static_cast<u8>(n >> 8), static_cast<u8>(n)});
    smf.insert(smf.end(), track.begin(), track.end());
    std::vector<u8> wrapped = {10, 0, static_cast<u8>(smf.size() >> 16), static_cast<u8>(smf.size() >> 8),
                               static_cast<u8>(smf.size())};
    wrapped.insert(wrapped.end(), smf.begin(), smf.end());
    return wrapped;
}

void render_looping(benchmark::State& state, const std::vector<u8>& sound, bool enhanced) {
    AudioEngine engine;
    engine.set_enhanced(enhanced);
    if (!engine.submit(sound, 0).ok()) {
        state.SkipWithError("submit failed");
        return;
    }
    engine.loop_last_submitted();
    std::array<i16, kRenderValues> out{};
    for (auto _ : state) {
        engine.render_frame(out);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_RenderFrameWav8kLinear(benchmark::State& state) { render_looping(state, tone_wav(8000, 10), false); }
void BM_RenderFrameWav8kSoxr(benchmark::State& state) { render_looping(state, tone_wav(8000, 10), true); }
void BM_RenderFrameTuneBuiltIn(benchmark::State& state) { render_looping(state, tune(), false); }
void BM_RenderFrameTuneSoundFont(benchmark::State& state) {
    if (!sound_font::prepare()) {
        state.SkipWithError("no SoundFont");
        return;
    }
    render_looping(state, tune(), true);
}
BENCHMARK(BM_RenderFrameWav8kLinear)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFrameWav8kSoxr)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFrameTuneBuiltIn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFrameTuneSoundFont)->Unit(benchmark::kMicrosecond);

}  // namespace
