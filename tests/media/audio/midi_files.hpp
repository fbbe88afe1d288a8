#pragma once
// Small Standard MIDI Files written byte by byte for the synthesiser tests.

#include <initializer_list>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::midi_test {

using Bytes = std::vector<u8>;

// A variable-length quantity, most significant group first.
inline Bytes vlq(u32 value) {
    Bytes out{static_cast<u8>(value & 0x7F)};
    while (value >>= 7) out.insert(out.begin(), static_cast<u8>(0x80 | (value & 0x7F)));
    return out;
}

// Concatenates byte pieces.
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes chunk(const char id[4], const Bytes& body) {
    Bytes out(id, id + 4);
    const u32 size = static_cast<u32>(body.size());
    out.insert(out.end(), {static_cast<u8>(size >> 24), static_cast<u8>(size >> 16),
                           static_cast<u8>(size >> 8), static_cast<u8>(size)});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes header(u16 track_count, u16 division, u16 format = 1) {
    return {'M', 'T', 'h', 'd', 0, 0, 0, 6, static_cast<u8>(format >> 8), static_cast<u8>(format),
            static_cast<u8>(track_count >> 8), static_cast<u8>(track_count),
            static_cast<u8>(division >> 8), static_cast<u8>(division)};
}

// A file of the given track bodies (each wrapped in an MTrk chunk).
inline Bytes smf(u16 division, std::initializer_list<Bytes> tracks) {
    Bytes out = header(static_cast<u16>(tracks.size()), division);
    for (const Bytes& body : tracks) {
        const Bytes c = chunk("MTrk", body);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

inline Bytes note_on(u32 delta, u8 note, u8 velocity) { return cat({vlq(delta), {0x90, note, velocity}}); }
inline Bytes note_off(u32 delta, u8 note) { return cat({vlq(delta), {0x80, note, 0x40}}); }
inline Bytes tempo(u32 delta, u32 micros) {
    return cat({vlq(delta), {0xFF, 0x51, 0x03, static_cast<u8>(micros >> 16), static_cast<u8>(micros >> 8),
                             static_cast<u8>(micros)}});
}
inline Bytes end_of_track() { return {0x00, 0xFF, 0x2F, 0x00}; }

}  // namespace tarvel::midi_test
