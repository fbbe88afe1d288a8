// retro_run while long music plays, the way a player meets it: five minutes
// of frames (18 000 calls) with a three-minute MIDI tune of 32 voices as the
// Auto BGM, the same tune looping on the engine, and a 150 s MP3 looping on
// the engine. Reported per run: the worst frame, the 99th percentile and the
// mean, in CPU milliseconds of the calling thread. A frame has 16.7 ms; sound
// should take a small part of it in every frame, not only on average.

#include <benchmark/benchmark.h>
#include <lame/lame.h>
#include <libretro.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cbe_writer/cbe_writer.hpp"
#include "common/log.hpp"
#include "libretro/core_state.hpp"

namespace {

using namespace tarvel;

constexpr int kFrames = 5 * 60 * 60;

bool g_auto_bgm = false;

bool environment(unsigned cmd, void* data) {
    if (cmd == RETRO_ENVIRONMENT_SET_PIXEL_FORMAT) return true;
    if (cmd == RETRO_ENVIRONMENT_GET_VARIABLE) {
        auto* var = static_cast<retro_variable*>(data);
        if (std::strcmp(var->key, "tarvel_auto_bgm") == 0) {
            var->value = g_auto_bgm ? "enabled" : "disabled";
            return true;
        }
        return false;
    }
    return false;
}
void video(const void*, unsigned, unsigned, size_t) {}
size_t audio(const int16_t*, size_t frames) { return frames; }
void poll() {}
int16_t input(unsigned, unsigned, unsigned, unsigned) { return 0; }
void discard(log::Level, std::string_view, std::string_view) {}

void put_vlq(std::vector<u8>& out, u32 v) {
    u8 bytes[5];
    int n = 0;
    do {
        bytes[n++] = static_cast<u8>(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n--) out.push_back(static_cast<u8>(bytes[n] | (n ? 0x80 : 0)));
}

// Three minutes, a note-on every 1/32 s held for a second: 32 voices sound
// at every moment. Wrapped as a type-10 audio resource.
std::vector<u8> dense_tune() {
    std::vector<u8> track;
    const u32 division = 96;  // 192 ticks a second at the default tempo: 6 ticks per note
    for (u32 i = 0; i < 180 * 32; ++i) {
        put_vlq(track, i == 0 ? 0 : 6);
        track.insert(track.end(), {0x90, static_cast<u8>(40 + (i * 7) % 48), 90});
    }
    put_vlq(track, 192);
    track.insert(track.end(), {0x80, 40, 0, 0x00, 0xFF, 0x2F, 0x00});
    std::vector<u8> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, static_cast<u8>(division)};
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    for (int s = 24; s >= 0; s -= 8) file.push_back(static_cast<u8>(track.size() >> s));
    file.insert(file.end(), track.begin(), track.end());
    std::vector<u8> wrapped{10, 0, static_cast<u8>(file.size() >> 16), static_cast<u8>(file.size() >> 8),
                            static_cast<u8>(file.size())};
    wrapped.insert(wrapped.end(), file.begin(), file.end());
    return wrapped;
}

// 150 s of two drifting tones, stereo 44100 Hz at 128 kbit/s.
std::vector<u8> long_mp3() {
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 7);
    lame_init_params(lame);
    std::vector<u8> out;
    std::vector<short> pcm(2 * 4410);
    std::vector<unsigned char> buffer(2 * pcm.size() + 7200);
    for (int block = 0; block < 1500; ++block) {
        for (int i = 0; i < 4410; ++i) {
            const double t = (block * 4410 + i) / 44100.0;
            pcm[2 * i] = static_cast<short>(9000 * std::sin(2 * 3.14159265 * (220 + 40 * std::sin(t / 7)) * t));
            pcm[2 * i + 1] = static_cast<short>(9000 * std::sin(2 * 3.14159265 * (330 + 30 * std::sin(t / 5)) * t));
        }
        const int n = lame_encode_buffer_interleaved(lame, pcm.data(), 4410, buffer.data(), static_cast<int>(buffer.size()));
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::max(n, 0));
    }
    const int n = lame_encode_flush(lame, buffer.data(), static_cast<int>(buffer.size()));
    out.insert(out.end(), buffer.begin(), buffer.begin() + std::max(n, 0));
    lame_close(lame);
    return out;
}

std::string write_game(const std::vector<u8>& music) {
    // Resource package: one resource "bgm.mid" (the format of encode_single_package).
    cbe_writer::SinglePackageSpec resources;
    resources.package.resources = {cbe_writer::resource("bgm.mid", music)};
    cbe_writer::CbeBuilder b;
    // Thumb: the initializer registers an entry that returns at once.
    //   ldr r0, =entry; ldr r1, =0x0A000000; str r0, [r1]; bx lr; entry: bx lr
    b.code.assign(64, 0);
    for (auto [offset, half] : {std::pair{0, 0x4801}, {2, 0x4902}, {4, 0x6008}, {6, 0x4770}, {16, 0x4770}})
        store_le16(&b.code[static_cast<size_t>(offset)], static_cast<u16>(half));
    store_le32(&b.code[8], 0x01000000 + 16 + 1);
    store_le32(&b.code[12], 0x0A000000);
    b.data_offset = 0x1000;
    b.data_size = 0x1000;
    b.init_data.assign(16, 0);
    b.embedded = {0x10, 0x20, 0x30, 0x40};
    b.resource_package = cbe_writer::encode_single_package(resources);
    const std::vector<u8> bytes = b.build();
    const std::string path = "/tmp/tarvel_music_frames_bench.cbe";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

double thread_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

enum Scenario { kAutoBgm = 0, kLoopingMidi = 1, kLoopingMp3 = 2 };

void BM_MusicFrames(benchmark::State& state) {
    const auto scenario = static_cast<Scenario>(state.range(0));
    static const std::vector<u8> tune = dense_tune();
    static std::vector<u8> mp3;
    if (scenario == kLoopingMp3 && mp3.empty()) mp3 = long_mp3();
    log::set_sink(discard);
    g_auto_bgm = scenario == kAutoBgm;
    retro_set_environment(environment);
    retro_set_video_refresh(video);
    retro_set_audio_sample_batch(audio);
    retro_set_input_poll(poll);
    retro_set_input_state(input);
    retro_init();
    const std::string path = write_game(tune);
    retro_game_info info{path.c_str(), nullptr, 0, nullptr};
    if (!retro_load_game(&info)) {
        state.SkipWithError("the game did not load");
        retro_deinit();
        return;
    }
    AudioEngine& engine = libretro::core_state()->machine->audio_engine;
    const std::vector<u8>& music = scenario == kLoopingMp3 ? mp3 : tune;
    std::vector<double> times;
    times.reserve(kFrames);
    for (auto _ : state) {
        if (scenario != kAutoBgm) {
            if (!engine.submit(music, 0)) std::abort();
            engine.set_loop_source(music);
        }
        for (int i = 0; i < kFrames; ++i) {
            const double start = thread_ms();
            retro_run();
            times.push_back(thread_ms() - start);
        }
    }
    retro_unload_game();
    retro_deinit();
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) sum += t;
    state.counters["worst_ms"] = times.back();
    state.counters["p99_ms"] = times[times.size() * 99 / 100];
    state.counters["mean_ms"] = sum / static_cast<double>(times.size());
}
BENCHMARK(BM_MusicFrames)->Arg(kAutoBgm)->Arg(kLoopingMidi)->Arg(kLoopingMp3)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
