// The save-state module on its own: payload round trips of a populated
// machine, the decoder's refusals, and the container's header checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <lz4.h>
#include <zlib.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cbe/archive.hpp"
#include "libretro/guest_app.hpp"
#include "media/audio/sound_data.hpp"
#include "machine/machine.hpp"
#include "support/test_machine.hpp"
#include "state/save_state.hpp"

namespace tarvel::test {
namespace {

using machine::TarvelMachine;
using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr u32 kContentCrc = 0x1234ABCD;

TarvelMachine booted_machine() {
    std::optional<TarvelMachine> m = boot_file(guest_app(), 1'000'000);
    return m ? std::move(*m) : TarvelMachine();
}

// Everything the payload appends after the platform's list, set to values a
// fresh machine does not have.
void populate(TarvelMachine& m) {
    m.memory.write32(0x05000100, 0xCAFEF00D);
    m.memory.read32(0x30000000);  // an unmapped access
    u32 kept = m.heap.allocate(40);
    u32 freed = m.heap.allocate(24);
    m.heap.allocate(8);
    m.heap.free(freed);
    ASSERT_NE(kept, 0u);
    // A sound part way through its second copy, behind values converted earlier.
    ASSERT_TRUE(m.audio_engine.submit(wav_constant(6000, 1234), 2));
    for (int i = 0; i < 9; ++i) m.audio_engine.render_frame();
    for (i16 s : {1, -2, 300, -32768}) m.audio_engine.queue.push_back(s);
    m.audio_engine.active = true;
    m.audio_engine.silent_frames = 7;
    m.audio_engine.loop_source = SharedBytes(std::vector<u8>{1, 2, 3});
    m.audio.current_sound_kind = machine::AudioServiceState::kSoundResource;
    m.audio.current_sound_resource = 3;
    m.timers.push_back({1, 0x01000041, 9, 4});
    m.queued_calls.push_back({1, 2, 3, 4, 0x01000081, 0, 2});
    m.network.connections[2] = {5, 0x01000101, 0, true};
    m.network.last_url = "http://example.invalid/score?n=1";
    m.network.last_uplink = {9, 8, 7};
    m.drawing.text_origin_x = -5;
    m.drawing.resource_tables = {0x05001000, 0x05002000};
    m.service_call_counts[{4, 1}] = 3;
    m.service_call_counts[{2, 7}] = 11;
    m.screen_stack.push_back(0x01002000);
    m.input.pointer = {true, true, false, 10, 20, 10, 20};
    m.input.held_key_mask = machine::key_bit(machine::kKeyUp) | machine::key_bit(machine::kKeyHash);
    m.input.key_event_queue.push_back({true, machine::kKeyHash});
    m.resources.main_table.push_back({"title.png", {0x89, 'P', 'N', 'G'}});
    m.resources.named_packages.push_back({"sounds", {{"jump.wav", {1, 2}}}});
    ASSERT_TRUE(m.file_system.make_directory("save/slot"));
    auto handle = m.file_system.open("save/slot/best.dat", "w+");
    ASSERT_TRUE(handle.has_value());
    const u8 score[] = {0x39, 0x30, 0, 0};
    ASSERT_TRUE(m.file_system.write(*handle, score));
    auto other = m.file_system.open("settings.ini", "w");
    ASSERT_TRUE(other.has_value());
    ASSERT_TRUE(m.file_system.write(*other, std::span<const u8>(score, 2)));
    m.file_system.close(*other);
}

std::vector<u8> payload_of(const TarvelMachine& m, u32 tick_phase = 0) {
    auto payload = encode_payload(m, tick_phase);
    EXPECT_TRUE(payload.ok());
    return payload.ok() ? std::move(payload).value() : std::vector<u8>();
}

// Offset of the memory byte-order flag: registers and bank, the regions, then
// the unmapped-address set.
// Guest memory follows the registers: a count of regions, then each region's
// base, size, count of pages present, each present page's number and bytes,
// and read-only flag. Pages that are all zero are left out.
constexpr size_t kFirstRegionOffset = 37 * 4 + 8 + 8;
size_t region_bytes(const machine::GuestRegion& region) {
    size_t at = 4 + 8 + 8 + 1;
    for (size_t offset = 0; offset < region.bytes.size(); offset += kStatePageSize) {
        const auto page = std::span<const u8>(region.bytes).subspan(offset, std::min<size_t>(kStatePageSize, region.bytes.size() - offset));
        if (std::ranges::any_of(page, [](u8 b) { return b != 0; })) at += 4 + page.size();
    }
    return at;
}
size_t byte_order_flag_offset(const TarvelMachine& m) {
    size_t at = kFirstRegionOffset;
    for (const auto& region : m.memory.regions()) at += region_bytes(region);
    return at + 8 + 4 * m.memory.unmapped_accesses().size();
}

class SaveStatePayload : public ::testing::Test {
protected:
    void SetUp() override {
        machine = booted_machine();
        populate(machine);
    }
    TarvelMachine machine;
};

// Writing and reading share one field list, so decoding and encoding again
// giving the same bytes shows every carried field came back; the kept state
// below pins the bytes themselves.
TEST_F(SaveStatePayload, RoundTripKeepsEveryCarriedRecord) {
    std::vector<u8> payload = payload_of(machine);
    auto decoded = decode_payload(payload, machine);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    TarvelMachine& d = *decoded->machine;

    EXPECT_EQ(payload_of(d), payload) << "decoding then encoding gives the same bytes";
    ASSERT_EQ(d.audio_engine.sounds.size(), 1u);
    EXPECT_EQ(d.audio_engine.render_frame(), machine.audio_engine.render_frame()) << "the sound carries on alike";
    EXPECT_EQ(d.memory.read32(0x05000100), 0xCAFEF00Du) << "the page table serves the restored memory";
    EXPECT_EQ(d.file_system.files, machine.file_system.files);
    EXPECT_EQ(d.file_system.stored_bytes, 6u) << "derived from the restored files";

    auto phased = encode_payload(machine, 50);
    ASSERT_TRUE(phased.ok());
    auto with_phase = decode_payload(*phased, machine);
    ASSERT_TRUE(with_phase.ok());
    EXPECT_EQ(with_phase->tick_phase, 50u);
}

// Music saved in its 33rd second (of 70) restores to the same sample: the
// seconds after it, on through the loop back to its start, come out identical.
TEST_F(SaveStatePayload, LongMusicSavedPartWayReplaysIdentically) {
    AudioEngine& playing = machine.audio_engine;
    playing.stop();
    const std::vector<u8> tune = time_as_pitch(70);
    ASSERT_TRUE(playing.submit(tune, 0));
    playing.set_loop_source(tune);
    for (int i = 0; i < 33 * 60; ++i) playing.render_frame();
    auto decoded = decode_payload(payload_of(machine), machine);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    AudioEngine& restored = decoded->machine->audio_engine;
    for (int i = 0; i < 40 * 60; ++i) ASSERT_EQ(restored.render_frame(), playing.render_frame()) << "frame " << i;
}

// The enhanced sound's state (on, the gain before a fade to a new volume, an
// effect over looping music) comes last, only while it is on: with it off
// the payload has the bytes it had before the option existed.
TEST_F(SaveStatePayload, EnhancedSoundStateIsCarriedOnlyWhileOn) {
    AudioEngine& engine = machine.audio_engine;
    const std::vector<u8> plain = payload_of(machine);
    engine.set_enhanced(true);
    engine.set_enhanced(false);
    EXPECT_EQ(payload_of(machine), plain);

    engine.set_enhanced(true);
    engine.stop();
    ASSERT_TRUE(engine.submit(wav_constant(4410, 1000), 0));
    engine.loop_last_submitted();
    engine.render_frame();
    ASSERT_TRUE(engine.mixes_effects());
    ASSERT_TRUE(engine.submit_effect(wav_constant(2000, 3000), 0));
    engine.render_frame();
    engine.set_volume(40);  // the next frame fades from full volume to 40 %
    const std::vector<u8> payload = payload_of(machine);
    auto decoded = decode_payload(payload, machine);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    const AudioEngine& restored = decoded->machine->audio_engine;
    EXPECT_EQ(payload_of(*decoded->machine), payload);
    EXPECT_TRUE(restored.enhanced);
    EXPECT_EQ(restored.gain, kFullGain);
    EXPECT_EQ(restored.volume, 40u);
    ASSERT_EQ(restored.effects.size(), 1u);
    EXPECT_EQ(restored.effects.front().cursor, engine.effects.front().cursor);
    EXPECT_EQ(restored, engine);
}

// Bytes at the end of the payload: the queued sounds, then the key events.
size_t queued_sounds_bytes(const TarvelMachine& m) {
    size_t bytes = 8;
    for (const QueuedSound& sound : m.audio_engine.sounds) bytes += 8 + sound.data.size() + 7 * 8 + 5 * 4 + 1;
    return bytes;
}
size_t key_events_bytes(const TarvelMachine& m) { return 8 + 2 * m.input.key_event_queue.size(); }

// The records carried after the tick phase (Auto BGM flags, queued sounds,
// key events) each end a state written before it was carried: such states
// still read, with the record's older meaning. The music cache is never carried.
TEST_F(SaveStatePayload, OptionalTailsAreCarriedAndAbsentFromOlderStates) {
    machine.audio.auto_bgm_enabled = true;
    machine.audio.auto_bgm_suppressed = true;
    machine.audio.auto_bgm_cache = std::vector<u8>{1};
    machine.delivered_held_key_mask = machine::key_bit(machine::kKeyUp);
    std::vector<u8> payload = payload_of(machine);
    auto decoded = decode_payload(payload, machine);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->machine->input.key_event_queue, machine.input.key_event_queue);
    EXPECT_EQ(decoded->machine->delivered_held_key_mask, machine.delivered_held_key_mask);
    EXPECT_TRUE(decoded->machine->audio.auto_bgm_enabled);
    EXPECT_TRUE(decoded->machine->audio.auto_bgm_suppressed);
    EXPECT_FALSE(decoded->machine->audio.auto_bgm_cache.has_value());

    // Before key events were carried: none wait, and the delivered keys are
    // the held ones, so only keys changed after the restore produce events.
    payload.resize(payload.size() - key_events_bytes(machine));
    auto without_keys = decode_payload(payload, machine);
    ASSERT_TRUE(without_keys.ok()) << without_keys.error().to_string();
    EXPECT_TRUE(without_keys->machine->input.key_event_queue.empty());
    EXPECT_EQ(without_keys->machine->delivered_held_key_mask, machine.input.held_key_mask);
    EXPECT_EQ(without_keys->machine->audio_engine.sounds.size(), machine.audio_engine.sounds.size());

    payload.resize(payload.size() - queued_sounds_bytes(machine));
    auto without_sounds = decode_payload(payload, machine);
    ASSERT_TRUE(without_sounds.ok()) << without_sounds.error().to_string();
    EXPECT_TRUE(without_sounds->machine->audio_engine.sounds.empty());
    EXPECT_TRUE(without_sounds->machine->audio.auto_bgm_enabled);
    payload.resize(payload.size() - 1);
    EXPECT_FALSE(decode_payload(payload, machine).ok()) << "half of the flags is damage";
    payload.resize(payload.size() - 1);
    auto older = decode_payload(payload, machine);
    ASSERT_TRUE(older.ok()) << older.error().to_string();
    EXPECT_FALSE(older->machine->audio.auto_bgm_enabled);
    EXPECT_FALSE(older->machine->audio.auto_bgm_suppressed);
    EXPECT_EQ(older->machine->file_system.files, decoded->machine->file_system.files);
}

TEST_F(SaveStatePayload, DecoderRefusesDamagedPayloads) {
    const std::vector<u8> good = payload_of(machine);
    auto refuse = [&](std::vector<u8> bytes) {
        auto decoded = decode_payload(bytes, machine);
        return decoded.ok() ? std::string("accepted") : decoded.error().to_string();
    };

    std::vector<u8> longer = good;
    longer.push_back(0);
    EXPECT_EQ(refuse(longer), "Slice had bytes remaining after deserialization");

    // Every cut ends the data somewhere inside a field or between fields.
    for (size_t cut : {size_t{0}, size_t{3}, size_t{150}, size_t{170}, good.size() / 2, good.size() - 200,
                       good.size() - 17, good.size() - 1})
        EXPECT_THAT(refuse(std::vector<u8>(good.begin(), good.begin() + cut)),
                    AnyOf(HasSubstr("unexpected end of data"), HasSubstr("exceeds the remaining data")))
            << "cut at " << cut;

    std::vector<u8> bad_bool = good;
    size_t flag = byte_order_flag_offset(machine);
    ASSERT_LE(good[flag], 1u);
    bad_bool[flag] = 2;
    EXPECT_THAT(refuse(bad_bool), StartsWith("invalid bool value 2"));

    std::vector<u8> huge_count = good;
    store_le32(huge_count.data() + 37 * 4 + 8, 0xFFFFFFF0);  // region count
    EXPECT_THAT(refuse(huge_count), HasSubstr("exceeds the remaining data"));

    // The first region's pages: more than it has, a number past its end, one
    // out of order; its base unlike the running region's.
    const size_t pages_at = kFirstRegionOffset + 4 + 8;
    ASSERT_GT(load_le32(good.data() + pages_at), 1u) << "the first region has pages present";
    std::vector<u8> bad_pages = good;
    store_le32(bad_pages.data() + pages_at, 0x7FFFFFFF);
    EXPECT_THAT(refuse(bad_pages), HasSubstr("exceeds the remaining data"));
    const u32 first_page = load_le32(good.data() + pages_at + 8);
    const u32 second_page_at = static_cast<u32>(pages_at + 8 + 4 + kStatePageSize);
    for (u32 page : {0x00100000u, first_page}) {
        bad_pages = good;
        store_le32(bad_pages.data() + second_page_at, page);
        EXPECT_EQ(refuse(bad_pages), fmt::format("guest memory page {} out of order or outside its region", page));
    }
    bad_pages = good;
    bad_pages[kFirstRegionOffset + 3] ^= 0x10;  // its base
    EXPECT_EQ(refuse(bad_pages), "guest memory region 0 does not match the running content");

    std::vector<u8> bad_mode = good;
    store_le32(bad_mode.data() + 16 * 4, 0x15);  // CPSR with mode bits that name no mode
    EXPECT_NE(refuse(bad_mode), "accepted");

    // The last string written is the handle's path: make it invalid UTF-8.
    std::vector<u8> bad_text = good;
    auto path = std::string("save/slot/best.dat");
    auto at = std::search(bad_text.rbegin(), bad_text.rend(), path.rbegin(), path.rend());
    ASSERT_NE(at, bad_text.rend());
    *at = 0xFF;  // the path's last byte
    EXPECT_THAT(refuse(bad_text), HasSubstr("is not valid UTF-8"));

    // The queued sounds come next to last: their count, then the one sound's
    // data; the key events, last, are a count and (pressed, code) pairs.
    const size_t keys_bytes = key_events_bytes(machine);
    const size_t sounds_bytes = queued_sounds_bytes(machine) + keys_bytes;
    std::vector<u8> bad_phase = good;
    store_le32(bad_phase.data() + bad_phase.size() - sounds_bytes - 2 - 4, 60);  // before the Auto BGM flags
    EXPECT_EQ(refuse(bad_phase), "invalid tick phase 60");
    std::vector<u8> bad_sound = good;
    bad_sound[bad_sound.size() - sounds_bytes + 16] ^= 0xFF;  // "RIFF" no more
    EXPECT_EQ(refuse(bad_sound), "invalid queued sound");
    std::vector<u8> bad_key = good;
    bad_key.back() = 40;
    EXPECT_EQ(refuse(bad_key), "invalid key code 40");
}

// A guest can open the root itself ("/", "." or an empty path) as a file;
// a state holding it must load like any other.
TEST_F(SaveStatePayload, FileAtTheRootPathSurvives) {
    auto root = machine.file_system.open("", "w");  // the name "/" normalises to
    ASSERT_TRUE(root.has_value());
    machine.file_system.close(*root);
    ASSERT_TRUE(machine.file_system.files.count(""));
    auto decoded = decode_payload(payload_of(machine), machine);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->machine->file_system.files, machine.file_system.files);
}

// Lists the running machine bounds are refused, so that a crafted state
// cannot make later ticks run without end.
TEST_F(SaveStatePayload, OversizedScreenStackOrCallQueueIsRefused) {
    TarvelMachine deep = machine;
    deep.screen_stack.assign(machine::kMaxScreenStackDepth + 1, 0x05000100);
    auto decoded = decode_payload(payload_of(deep), machine);
    ASSERT_FALSE(decoded.ok());
    EXPECT_THAT(decoded.error().to_string(), HasSubstr("screen stack too deep (4097)"));

    TarvelMachine busy = machine;
    busy.queued_calls.assign(33, machine::QueuedCall{});
    decoded = decode_payload(payload_of(busy), machine);
    ASSERT_FALSE(decoded.ok());
    EXPECT_THAT(decoded.error().to_string(), HasSubstr("too many queued calls (33)"));
}

TEST_F(SaveStatePayload, MachineWithTextThatCannotBeReadBackIsNotSaved) {
    machine.network.last_url = "bad \xC3";
    auto payload = encode_payload(machine);
    ASSERT_FALSE(payload.ok());
    EXPECT_EQ(payload.error().to_string(), "a string of the machine record is not valid UTF-8");
    std::vector<u8> state(kSaveStateCapacity);
    auto written = write_save_state(machine, 0, kContentCrc, state);
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().message(), "failed to encode save-state payload");
}

TEST_F(SaveStatePayload, StateOfAnotherMemoryLayoutIsRefused) {
    TarvelMachine other = booted_machine();
    other.memory.add_region(0x20000000, 0x1000);
    auto decoded = decode_payload(payload_of(machine), other);
    ASSERT_FALSE(decoded.ok());
    EXPECT_THAT(decoded.error().to_string(), HasSubstr("regions, the running content has"));
}

// ---------------------------------------------------------------- container

class SaveStateContainer : public SaveStatePayload {
protected:
    void SetUp() override {
        SaveStatePayload::SetUp();
        state.assign(kSaveStateCapacity, 0xEE);
        ASSERT_TRUE(write_save_state(machine, 0, kContentCrc, state).ok());
    }
    std::string refusal(std::span<const u8> bytes, u32 crc = kContentCrc) {
        auto read = read_save_state(bytes, crc, machine);
        return read.ok() ? std::string("accepted") : read.error().to_string();
    }
    u32 field(size_t offset) const { return load_le32(state.data() + offset); }
    void refresh_checksum() {
        u32 crc = static_cast<u32>(::crc32(0, state.data() + 32, field(kHeaderCompressedLength)));
        store_le32(state.data() + kHeaderPayloadCrc, crc);
    }
    std::vector<u8> state;
};

TEST_F(SaveStateContainer, HeaderDescribesTheBlockAndTheRestIsZero) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.data()), 8), "TARVESTM");
    EXPECT_EQ(field(kHeaderVersion), 1u);
    EXPECT_EQ(field(kHeaderContentCrc), kContentCrc);
    EXPECT_EQ(field(kHeaderUncompressedLength), payload_of(machine).size());
    EXPECT_EQ(field(kHeaderReserved), 0u);
    const u32 compressed = field(kHeaderCompressedLength);
    size_t memory_size = 0;
    for (const auto& region : machine.memory.regions()) memory_size += region.bytes.size();
    EXPECT_LT(compressed, memory_size / 10) << "mostly zero memory is left out or compresses well";
    EXPECT_EQ(field(kHeaderPayloadCrc), static_cast<u32>(::crc32(0, state.data() + 32, compressed)));
    EXPECT_TRUE(std::all_of(state.begin() + 32 + compressed, state.end(), [](u8 b) { return b == 0; }));

    auto restored = read_save_state(state, kContentCrc, machine);
    ASSERT_TRUE(restored.ok()) << restored.error().to_string();
    EXPECT_EQ(payload_of(*restored->machine), payload_of(machine));

    std::vector<u8> small(kSaveStateCapacity - 1);
    EXPECT_FALSE(write_save_state(machine, 0, kContentCrc, small).ok());
}

TEST_F(SaveStateContainer, EveryHeaderCheckHasItsMessage) {
    EXPECT_EQ(refusal(std::span<const u8>(state).first(31)), "save state is truncated");
    EXPECT_EQ(refusal(std::span<const u8>()), "save state is truncated");

    state[3] ^= 0x20;
    EXPECT_EQ(refusal(state), "invalid save-state signature");
    state[3] ^= 0x20;

    store_le32(state.data() + kHeaderVersion, 2);
    EXPECT_EQ(refusal(state), "unsupported save-state version 2");
    store_le32(state.data() + kHeaderVersion, 1);

    EXPECT_EQ(refusal(state, kContentCrc + 1), "save state belongs to different content data");

    const u32 uncompressed = field(kHeaderUncompressedLength);
    store_le32(state.data() + kHeaderUncompressedLength, 0x4000001);
    EXPECT_EQ(refusal(state), "save-state decoded size exceeds the limit");
    store_le32(state.data() + kHeaderUncompressedLength, 256 * field(kHeaderCompressedLength) + 257);
    EXPECT_EQ(refusal(state), "save-state decoded size exceeds its block") << "no LZ4 block grows that much";
    store_le32(state.data() + kHeaderUncompressedLength, uncompressed);

    const u32 compressed = field(kHeaderCompressedLength);
    store_le32(state.data() + kHeaderCompressedLength, 0x2FFFFE1);
    EXPECT_EQ(refusal(state), "invalid save-state payload length");
    store_le32(state.data() + kHeaderCompressedLength, 0xFFFFFFFF);
    EXPECT_EQ(refusal(state), "invalid save-state payload length");
    store_le32(state.data() + kHeaderCompressedLength, compressed);
    EXPECT_EQ(refusal(std::span<const u8>(state).first(32 + compressed - 1)), "invalid save-state payload length");

    std::vector<u8> header_only(state.begin(), state.begin() + 32);
    store_le32(header_only.data() + kHeaderCompressedLength, 1);
    EXPECT_EQ(refusal(header_only), "invalid save-state payload length");

    state[32 + compressed / 2] ^= 0x01;
    EXPECT_EQ(refusal(state), "save-state checksum mismatch");
    state[32 + compressed / 2] ^= 0x01;

    state[kHeaderReserved + 1] = 0x5A;
    EXPECT_EQ(refusal(state), "accepted") << "the reserved word is not checked";
    EXPECT_EQ(refusal(std::span<const u8>(state).first(32 + compressed)), "accepted")
        << "a buffer that ends with the block is enough";
}

TEST_F(SaveStateContainer, BadBlockOrPayloadBehindAValidChecksumIsRefused) {
    const u32 uncompressed = field(kHeaderUncompressedLength);
    store_le32(state.data() + kHeaderUncompressedLength, uncompressed - 1);
    EXPECT_THAT(refusal(state), StartsWith("failed to decompress save state: "));
    store_le32(state.data() + kHeaderUncompressedLength, uncompressed + 1);
    EXPECT_THAT(refusal(state), StartsWith("failed to decompress save state: "));
    store_le32(state.data() + kHeaderUncompressedLength, uncompressed);

    // A valid block of a damaged payload: the decoder's message is the cause.
    std::vector<u8> payload = payload_of(machine);
    payload.push_back(0);
    std::vector<u8> block(LZ4_compressBound(static_cast<int>(payload.size())));
    int n = LZ4_compress_default(reinterpret_cast<const char*>(payload.data()), reinterpret_cast<char*>(block.data()),
                                 static_cast<int>(payload.size()), static_cast<int>(block.size()));
    ASSERT_GT(n, 0);
    std::memcpy(state.data() + 32, block.data(), static_cast<size_t>(n));
    store_le32(state.data() + kHeaderCompressedLength, static_cast<u32>(n));
    store_le32(state.data() + kHeaderUncompressedLength, static_cast<u32>(payload.size()));
    refresh_checksum();
    EXPECT_EQ(refusal(state), "failed to decode save state: Slice had bytes remaining after deserialization");

    // Garbage bytes with a matching checksum (and a length such a block could
    // decode to, so that they reach the decompressor).
    for (size_t i = 0; i < 64; ++i) state[32 + i] = static_cast<u8>(i * 37 + 11);
    store_le32(state.data() + kHeaderCompressedLength, 64);
    store_le32(state.data() + kHeaderUncompressedLength, 1000);
    refresh_checksum();
    EXPECT_THAT(refusal(state), StartsWith("failed to"));
}

// A state of the populated machine is kept (header and LZ4 block, gzipped:
// the rest of the block is zeros) so that the encoding cannot change by
// accident: the machine writes exactly those bytes, and restoring them and
// saving again gives them back. After a deliberate change of the encoding,
// write the file anew with TARVEL_REBASELINE=1 and commit it with the change.
std::vector<u8> read_gzip(const char* path) {
    std::vector<u8> bytes;
    gzFile file = gzopen(path, "rb");
    if (!file) return bytes;
    u8 chunk[65536];
    for (int n; (n = gzread(file, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    gzclose(file);
    return bytes;
}

TEST_F(SaveStateContainer, KeptStateIsWrittenAndRestoredByteForByte) {
    constexpr u32 kPhase = 17;
    ASSERT_TRUE(write_save_state(machine, kPhase, kContentCrc, state).ok());
    const size_t used = kSaveStateHeaderSize + field(kHeaderCompressedLength);
    const char* rebaseline = std::getenv("TARVEL_REBASELINE");
    if (rebaseline && std::string(rebaseline) == "1") {
        gzFile file = gzopen(TARVEL_STATE_FIXTURE, "wb9");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(gzwrite(file, state.data(), static_cast<unsigned>(used)), static_cast<int>(used));
        ASSERT_EQ(gzclose(file), Z_OK);
    }
    const std::vector<u8> kept = read_gzip(TARVEL_STATE_FIXTURE);
    ASSERT_FALSE(kept.empty()) << "cannot read " << TARVEL_STATE_FIXTURE;
    ASSERT_EQ(kept.size(), used) << "the encoding changed; see the comment above to write the kept state anew";
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), state.begin())) << "the encoding changed";

    std::vector<u8> block(kSaveStateCapacity, 0);
    std::copy(kept.begin(), kept.end(), block.begin());
    auto restored = read_save_state(block, kContentCrc, machine);
    ASSERT_TRUE(restored.ok()) << restored.error().to_string();
    EXPECT_EQ(restored->tick_phase, kPhase);
    std::vector<u8> again(kSaveStateCapacity, 0xEE);
    ASSERT_TRUE(write_save_state(*restored->machine, restored->tick_phase, kContentCrc, again).ok());
    EXPECT_TRUE(again == block) << "the restored machine saves as the kept state";
}

// Kept states written by earlier builds restore: one from before all-zero
// pages were left out (every byte of memory) to exactly the machine the kept
// state holds, one from before queued sounds were saved (it ends after the
// tick phase) with no queued sound and what it had converted still queued.
TEST_F(SaveStateContainer, StatesOfEarlierBuildsRestore) {
    auto restore = [&](const char* path) {
        const std::vector<u8> kept = read_gzip(path);
        EXPECT_FALSE(kept.empty()) << "cannot read " << path;
        std::vector<u8> block(kSaveStateCapacity, 0);
        std::copy(kept.begin(), kept.end(), block.begin());
        return read_save_state(block, kContentCrc, machine);
    };
    auto dense = restore(TARVEL_DENSE_MEMORY_STATE_FIXTURE);
    ASSERT_TRUE(dense.ok()) << dense.error().to_string();
    EXPECT_EQ(payload_of(*dense->machine, dense->tick_phase), payload_of(machine, 17));

    auto earlier = restore(TARVEL_EARLIER_STATE_FIXTURE);
    ASSERT_TRUE(earlier.ok()) << earlier.error().to_string();
    EXPECT_TRUE(earlier->machine->audio_engine.sounds.empty());
    EXPECT_EQ(earlier->machine->audio_engine.queue, (std::deque<i16>{1, -2, 300, -32768}));
    EXPECT_EQ(earlier->machine->audio_engine.loop_source, std::optional<SharedBytes>(SharedBytes({1, 2, 3})));
}

}  // namespace
}  // namespace tarvel::test
