// Save and restore of a machine the size of a running game: 16 MiB of RAM of
// which a few MiB hold game data and the screen is drawn, a 200 KiB code image,
// resources of 1 MiB, a second of queued audio and a few saved files. A
// frontend with rewind or run-ahead calls these every frame or every few
// frames, so both should stay within a few tens of milliseconds.
//
// The demo through the entry points: what a frontend with rewind or run-ahead
// pays per frame for retro_serialize and retro_unserialize into the one
// buffer it keeps, with the demo in the middle of a game.

#include <benchmark/benchmark.h>

#include <vector>

#include <libretro.h>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "common/log.hpp"
#include "machine/machine.hpp"
#include "state/save_state.hpp"

namespace {

using namespace tarvel;
using machine::TarvelMachine;

void discard(log::Level, std::string_view, std::string_view) {}

TarvelMachine demo_sized_machine() {
    log::set_sink(discard);
    cbe_writer::CbeBuilder b;
    b.code.assign(200 * 1024, 0);
    for (size_t i = 0; i + 4 <= b.code.size(); i += 4) store_le32(&b.code[i], static_cast<u32>(0xE1A00000 | (i & 0xFFF)));
    store_le32(&b.code[0], 0xE12FFF1E);  // the initializer returns at once
    b.data_offset = static_cast<u32>(b.code.size());
    b.data_size = 0x10000;
    b.init_data.assign(0x4000, 0x11);
    auto archive = cbe::parse_archive(b.build());
    if (!archive.ok()) std::abort();
    auto built = machine::build_machine(*archive);
    if (!built.ok()) std::abort();
    TarvelMachine m = std::move(built).value();

    // Game data: 3 MiB of tables and sprites with some repetition, a drawn screen.
    u32 x = 0x9E3779B9;
    for (u32 a = 0x05010000; a < 0x05310000; a += 4) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        m.memory.write32(a, (a & 0x40) ? x : (a >> 4));
    }
    for (u32 i = 0; i < machine::kScreenBufferBytes; i += 2)
        m.memory.write16(machine::kScreenBuffer + i, static_cast<u16>(i * 31 / 7));
    for (int i = 0; i < 16; ++i) {
        std::vector<u8> data(64 * 1024);
        for (size_t j = 0; j < data.size(); ++j) data[j] = static_cast<u8>((j * 7 + i) ^ (j >> 5));
        m.resources.main_table.push_back({"res" + std::to_string(i), std::move(data)});
    }
    for (size_t i = 0; i < 88200; ++i) m.audio_engine.queue.push_back(static_cast<i16>((i * 977) & 0x3FFF));
    for (int i = 0; i < 4; ++i)
        if (auto h = m.file_system.open("save" + std::to_string(i) + ".dat", "w"))
            m.file_system.write(*h, std::vector<u8>(4096, static_cast<u8>(i)));
    return m;
}

void BM_SaveStateSerialize(benchmark::State& state) {
    const TarvelMachine m = demo_sized_machine();
    std::vector<u8> buffer(kSaveStateCapacity);
    for (auto _ : state) {
        if (!write_save_state(m, 0, 1, buffer).ok()) state.SkipWithError("serialize failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["compressed_bytes"] = load_le32(buffer.data() + kHeaderCompressedLength);
    state.counters["payload_bytes"] = load_le32(buffer.data() + kHeaderUncompressedLength);
}
BENCHMARK(BM_SaveStateSerialize)->Unit(benchmark::kMillisecond);

void BM_SaveStateUnserialize(benchmark::State& state) {
    const TarvelMachine m = demo_sized_machine();
    std::vector<u8> buffer(kSaveStateCapacity);
    if (!write_save_state(m, 0, 1, buffer).ok()) std::abort();
    for (auto _ : state) {
        auto restored = read_save_state(buffer, 1, m);
        if (!restored.ok()) state.SkipWithError("unserialize failed");
        benchmark::DoNotOptimize(restored);
    }
}
BENCHMARK(BM_SaveStateUnserialize)->Unit(benchmark::kMillisecond);

#ifdef TARVEL_DEMO_CBE
void quiet_log(enum retro_log_level, const char*, ...) {}
bool demo_environment(unsigned cmd, void* data) {
    switch (cmd) {
        case RETRO_ENVIRONMENT_GET_LOG_INTERFACE:
            static_cast<retro_log_callback*>(data)->log = quiet_log;
            return true;
        case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT: return true;
        default: return false;
    }
}
unsigned demo_frame = 0;
void demo_video(const void*, unsigned, unsigned, size_t) { ++demo_frame; }
size_t demo_audio(const int16_t*, size_t frames) { return frames; }
void demo_poll() {}
// Confirm on the title starts a game; the ship then moves a lane now and then.
int16_t demo_input(unsigned port, unsigned device, unsigned, unsigned id) {
    if (port != 0 || device != RETRO_DEVICE_JOYPAD) return 0;
    if (id == RETRO_DEVICE_ID_JOYPAD_A) return demo_frame >= 60 && demo_frame < 66;
    if (id == RETRO_DEVICE_ID_JOYPAD_LEFT) return demo_frame % 90 >= 80;
    return 0;
}

// Loads the demo and plays 300 frames (5 s) into a game.
bool start_demo() {
    retro_set_environment(demo_environment);
    retro_set_video_refresh(demo_video);
    retro_set_audio_sample_batch(demo_audio);
    retro_set_input_poll(demo_poll);
    retro_set_input_state(demo_input);
    retro_init();
    retro_game_info info{TARVEL_DEMO_CBE, nullptr, 0, nullptr};
    if (!retro_load_game(&info)) return false;
    demo_frame = 0;
    for (int i = 0; i < 300; ++i) retro_run();
    return true;
}

void stop_demo() {
    retro_unload_game();
    retro_deinit();
}

// kind 0: save; 1: restore; 2: save then restore, as run-ahead does every frame;
// 3: restore two states a frame apart in turn, as rewind does (never the
// state saved or restored last, so every restore decompresses).
void BM_DemoEntryPoints(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    if (!start_demo()) return state.SkipWithError("the demo did not load");
    std::vector<u8> buffer(retro_serialize_size());
    std::vector<u8> other(retro_serialize_size());
    if (!retro_serialize(other.data(), other.size())) state.SkipWithError("serialize failed");
    retro_run();
    if (!retro_serialize(buffer.data(), buffer.size())) state.SkipWithError("serialize failed");
    bool turn = false;
    for (auto _ : state) {
        bool ok = true;
        if (kind == 0 || kind == 2) ok &= retro_serialize(buffer.data(), buffer.size());
        if (kind == 1 || kind == 2) ok &= retro_unserialize(buffer.data(), buffer.size());
        if (kind == 3) ok &= retro_unserialize((turn = !turn) ? other.data() : buffer.data(), buffer.size());
        if (!ok) state.SkipWithError("save or restore failed");
        benchmark::ClobberMemory();
    }
    state.counters["compressed_bytes"] = load_le32(buffer.data() + kHeaderCompressedLength);
    state.counters["payload_bytes"] = load_le32(buffer.data() + kHeaderUncompressedLength);
    stop_demo();
}
BENCHMARK(BM_DemoEntryPoints)
    ->ArgName("save0_restore1_both2_rewind3")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
