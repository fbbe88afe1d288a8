// Rendering two minutes of MIDI music (the longest a file renders to) with
// many overlapping notes: each note rings for its full second, so the number
// of voices summed per sample is the notes started in the last second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "media/audio/midi.hpp"

namespace {

using namespace tarvel;

// Division 480 at the default 500000 µs per quarter: 960 ticks per second. A
// note-on every `spacing` ticks for 125 s keeps 960 / spacing voices sounding.
std::vector<u8> dense_file(u32 spacing) {
    std::vector<u8> body;
    const u32 notes = 125 * 960 / spacing;
    for (u32 i = 0; i < notes; ++i) {
        body.insert(body.end(), {static_cast<u8>(i == 0 ? 0 : spacing), 0x90, static_cast<u8>(48 + (i * 7) % 37),
                                 static_cast<u8>(60 + i % 60)});
    }
    const auto n = static_cast<u32>(body.size());
    std::vector<u8> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,
                            'M', 'T', 'r', 'k', static_cast<u8>(n >> 24), static_cast<u8>(n >> 16),
                            static_cast<u8>(n >> 8), static_cast<u8>(n)};
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

void BM_MidiRender(benchmark::State& state) {
    const std::vector<u8> file = dense_file(static_cast<u32>(state.range(0)));
    for (auto _ : state) {
        auto sound = render_midi(file);
        if (!sound.ok()) {
            state.SkipWithError(sound.error().to_string().c_str());
            break;
        }
        benchmark::DoNotOptimize(sound->samples.data());
    }
    state.counters["voices"] = std::min(960.0 / static_cast<double>(state.range(0)),
                                        static_cast<double>(kMidiMaxVoices));
    state.SetItemsProcessed(state.iterations() * 960000);  // samples
}
// 16 voices (a busy arrangement), 64, and more than the voice cap allows.
BENCHMARK(BM_MidiRender)->Arg(60)->Arg(15)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
