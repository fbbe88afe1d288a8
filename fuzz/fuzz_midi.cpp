// Feeds arbitrary bytes to the MIDI synthesiser. A rendering must be mono at
// 8000 Hz, every sample within -1..1, and exactly as long as the song's
// clamped duration (0.05..120 s); a failure must carry a message, and the
// reader alone must fail the same way.
//
// An empty corpus directory is seeded with a few small files written here
// (tempo changes, running status, several tracks, skipped events), so that the
// fuzzer starts inside the event grammar instead of at the header checks.

#include <cmath>
#include <cstdlib>
#include <vector>

#include "media/audio/midi.hpp"
#include "seed_corpus.hpp"

namespace {

using tarvel::u8;
using Bytes = std::vector<u8>;

Bytes track(const Bytes& body) {
    const auto n = static_cast<tarvel::u32>(body.size());
    Bytes out = {'M', 'T', 'r', 'k', static_cast<u8>(n >> 24), static_cast<u8>(n >> 16), static_cast<u8>(n >> 8),
                 static_cast<u8>(n)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes file(u8 division, const std::vector<Bytes>& bodies) {
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<u8>(bodies.size()), 0, division};
    for (const Bytes& body : bodies) {
        const Bytes t = track(body);
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

std::vector<Bytes> seed_files() {
    const Bytes tempo_track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,
                               0x00, 0xFF, 0x2F, 0x00};
    const Bytes melody = {0x00, 0xC0, 0x05, 0x00, 0x90, 0x3C, 0x64, 0x30, 0x40, 0x64, 0x30, 0x3C, 0x00,
                          0x00, 0x43, 0x50, 0x30, 0x80, 0x40, 0x40, 0x00, 0xB0, 0x07, 0x64, 0x81, 0x00,
                          0x90, 0x43, 0x00, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes sysex = {0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7, 0x00, 0xE0, 0x00, 0x40, 0x10, 0x99, 0x24, 0x7F,
                         0x10, 0x89, 0x24, 0x00};
    return {file(96, {melody}), file(0x60, {tempo_track, melody, sysex}), file(24, {sysex, melody})};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarvel::fuzz::write_seed_corpus(*argc, *argv, seed_files());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const u8> payload(data, size);
    auto sound = tarvel::render_midi(payload);
    auto song = tarvel::parse_midi(payload);
    if (sound.ok() != song.ok()) std::abort();
    if (!sound.ok()) {
        if (sound.error().to_string().empty() || sound.error().to_string() != song.error().to_string()) std::abort();
        return 0;
    }
    const size_t length = sound->samples.size();
    if (sound->channels != 1 || sound->rate != 8000) std::abort();
    if (length < 400 || length > 960000 || length != tarvel::midi_sample_count(*song)) std::abort();
    for (float v : sound->samples) {
        if (!(v >= -1.0f && v <= 1.0f)) std::abort();
    }
    return 0;
}
