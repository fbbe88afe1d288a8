// Save and restore of a machine the size of a running game: 16 MiB of RAM of
// which a few MiB hold game data and the screen is drawn, a 200 KiB code image,
// resources of 1 MiB, a second of queued audio and a few saved files. A
// frontend with rewind or run-ahead calls these every frame or every few
// frames, so both should stay within a few tens of milliseconds.

#include <benchmark/benchmark.h>

#include <vector>

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

}  // namespace
