// Save-state restore against arbitrary bytes. The first input byte picks the
// form: raw bytes as a container, raw bytes as a payload, or a valid payload
// or container with bytes overwritten (optionally with its checksum made to
// match, so the damage reaches the decompressor and the decoder). Nothing may
// crash; the running machine must be unchanged; anything accepted must encode
// again to a payload that decodes to the same bytes.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/log.hpp"
#include "state/save_state.hpp"

namespace {

using namespace tarvel;
using machine::TarvelMachine;

void discard(log::Level, std::string_view, std::string_view) {}

// A small machine with every carried record in use, so mutations meet all of them.
TarvelMachine make_machine() {
    TarvelMachine m;
    m.memory.add_region(0x01000000, 256, true);
    m.memory.add_region(0x05000000, 512);
    m.memory.write32(0x05000010, 0x12345678);
    m.memory.read32(0x70000000);
    m.heap.allocate(16);
    m.heap.free(m.heap.allocate(32));
    m.heap.allocate(8);
    m.audio_engine.queue = {1, 2, -3, 4};
    m.audio_engine.loop_source = SharedBytes(std::vector<u8>{5, 6});
    m.timers.push_back({1, 0x01000001, 2, 3});
    m.queued_calls.push_back({1, 2, 3, 4, 5, 6, 7});
    m.service_call_counts[{1, 2}] = 3;
    m.recent_pcs.push(0x01000004);
    m.recent_service_calls.push({1, 2, 3, 4});
    m.screen_stack = {0x01000080};
    m.resources.main_table.push_back({"a", {1}});
    m.resources.named_packages.push_back({"p", {{"b", {2}}}});
    m.loaded_resources.data_addresses = {0x05000100};
    m.network.last_url = "u";
    m.network.connections[0].open = true;
    m.file_system.make_directory("d");
    if (auto h = m.file_system.open("d/f", "w+")) {
        const u8 bytes[] = {1, 2, 3};
        m.file_system.write(*h, bytes);
    }
    return m;
}

struct Fixture {
    TarvelMachine machine = make_machine();
    std::vector<u8> payload;
    std::vector<u8> container;  // header and block only
    u32 content_crc = 0xC0FFEE;

    Fixture() {
        log::set_sink(discard);
        payload = encode_payload(machine, 7).value();
        std::vector<u8> full(kSaveStateCapacity);
        if (!write_save_state(machine, 7, content_crc, full).ok()) std::abort();
        container.assign(full.begin(), full.begin() + kSaveStateHeaderSize + load_le32(full.data() + kHeaderCompressedLength));
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Overwrites bytes of `target` at positions and values taken from `edits`.
void apply_edits(std::vector<u8>& target, const uint8_t* edits, size_t size) {
    for (size_t i = 0; i + 3 <= size && !target.empty(); i += 3) {
        size_t at = (size_t{edits[i]} << 8 | edits[i + 1]) % target.size();
        target[at] = edits[i + 2];
    }
}

void fix_checksum(std::vector<u8>& state) {
    if (state.size() < kSaveStateHeaderSize) return;
    size_t length = std::min<size_t>(load_le32(state.data() + kHeaderCompressedLength), state.size() - kSaveStateHeaderSize);
    store_le32(state.data() + kHeaderPayloadCrc,
               static_cast<u32>(::crc32(0, state.data() + kSaveStateHeaderSize, static_cast<uInt>(length))));
}

void check_accepted(const Result<SavedGame>& game) {
    if (!game.ok()) return;
    auto again = encode_payload(*game->machine, game->tick_phase);
    if (!again.ok()) std::abort();
    auto decoded = decode_payload(*again, fixture().machine);
    if (!decoded.ok()) std::abort();
    if (encode_payload(*decoded->machine, decoded->tick_phase).value() != *again) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fixture& f = fixture();
    if (size == 0) return 0;
    const uint8_t mode = data[0] % 5;
    ++data;
    --size;
    switch (mode) {
        case 0: {
            std::vector<u8> state(data, data + size);
            if (state.size() >= 16) store_le32(state.data() + kHeaderContentCrc, f.content_crc);
            fix_checksum(state);
            check_accepted(read_save_state(state, f.content_crc, f.machine));
            break;
        }
        case 1: check_accepted(decode_payload(std::span<const u8>(data, size), f.machine)); break;
        case 2: {
            std::vector<u8> payload = f.payload;
            apply_edits(payload, data, size);
            check_accepted(decode_payload(payload, f.machine));
            break;
        }
        case 3:
        case 4: {
            std::vector<u8> state = f.container;
            apply_edits(state, data, size);
            if (mode == 4) fix_checksum(state);
            check_accepted(read_save_state(state, f.content_crc, f.machine));
            break;
        }
    }
    // Nothing above may touch the running machine (encoded into a kept buffer:
    // this runs for every input).
    static std::vector<u8> running;
    if (!encode_payload_into(f.machine, 7, running).ok() || running != f.payload) std::abort();
    return 0;
}
