#pragma once
// Sound files made in code for the audio engine tests.

#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "media/audio/audio_engine.hpp"
#include "media/audio/midi_files.hpp"

namespace tarvel::test {

// Byte by byte: GCC 12 takes a range insert into a fresh vector for an
// overflow (-Wstringop-overflow, a false alarm) in optimised builds.
inline void put_tag(std::vector<u8>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<u8>(tag[i]));
}
inline void put_le16(std::vector<u8>& out, u16 v) {
    out.push_back(static_cast<u8>(v));
    out.push_back(static_cast<u8>(v >> 8));
}
inline void put_le32(std::vector<u8>& out, u32 v) {
    put_le16(out, static_cast<u16>(v));
    put_le16(out, static_cast<u16>(v >> 16));
}

struct WavFormat {
    u16 format = 1;
    u16 channels = 1;
    u32 rate = 44100;
    u16 bits = 16;
};

inline std::vector<u8> chunk(const char* id, const std::vector<u8>& body, bool pad = true) {
    std::vector<u8> out;
    put_tag(out, id);
    put_le32(out, static_cast<u32>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) out.push_back(0);
    return out;
}

inline std::vector<u8> fmt_chunk(const WavFormat& f) {
    std::vector<u8> body;
    put_le16(body, f.format);
    put_le16(body, f.channels);
    put_le32(body, f.rate);
    put_le32(body, f.rate * f.channels * f.bits / 8);
    put_le16(body, static_cast<u16>(f.channels * f.bits / 8));
    put_le16(body, f.bits);
    return chunk("fmt ", body);
}

inline std::vector<u8> pcm_bytes(const std::vector<i16>& samples) {
    std::vector<u8> out;
    for (i16 s : samples) put_le16(out, static_cast<u16>(s));
    return out;
}

inline std::vector<u8> riff(const std::vector<std::vector<u8>>& chunks) {
    std::vector<u8> body;
    put_tag(body, "WAVE");
    for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
    std::vector<u8> out;
    put_tag(out, "RIFF");
    put_le32(out, static_cast<u32>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline std::vector<u8> wav(const std::vector<i16>& samples, const WavFormat& f = {}) {
    return riff({fmt_chunk(f), chunk("data", pcm_bytes(samples))});
}

// `frames` frames of one constant value per channel at 44100 Hz (which the
// engine passes through unchanged: v / 32768 * 32767 truncates back to v - 1
// for positive v, so values are chosen by the callers accordingly).
inline std::vector<u8> wav_constant(size_t frames, i16 value, u16 channels = 2, u32 rate = 44100) {
    return wav(std::vector<i16>(frames * channels, value), WavFormat{1, channels, rate, 16});
}

// The platform's resource wrapper: type (LE16), payload length (BE24), payload.
inline std::vector<u8> wrapped(u16 type, const std::vector<u8>& payload) {
    std::vector<u8> out;
    put_le16(out, type);
    const u32 n = static_cast<u32>(payload.size());
    out.push_back(static_cast<u8>(n >> 16));
    out.push_back(static_cast<u8>(n >> 8));
    out.push_back(static_cast<u8>(n));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// A wrapped MIDI tune that codes time as pitch: second n sounds note
// kTimeAsPitchFirstNote + n for most of that second (division 96 at the
// default tempo: 192 ticks a second).
inline constexpr u8 kTimeAsPitchFirstNote = 30;
inline std::vector<u8> time_as_pitch(u32 seconds) {
    midi_test::Bytes track;
    for (u32 n = 0; n < seconds; ++n) {
        const auto note = static_cast<u8>(kTimeAsPitchFirstNote + n);
        track = midi_test::cat({track, midi_test::note_on(n == 0 ? 0 : 12, note, 100), midi_test::note_off(180, note)});
    }
    track = midi_test::cat({track, midi_test::end_of_track()});
    return wrapped(10, midi_test::smf(96, {track}));
}

// MPEG-1 Layer III frames of silence: a header (128 kbit/s, 44100 Hz, no
// padding, no CRC) and 413 zero bytes, which is empty side information and no
// main data. Each decodes to 1152 frames of zeros.
inline std::vector<u8> silent_mp3(size_t frames, bool mono) {
    std::vector<u8> out;
    for (size_t i = 0; i < frames; ++i) {
        const u8 header[4] = {0xFF, 0xFB, 0x90, static_cast<u8>(mono ? 0xC0 : 0x00)};
        out.insert(out.end(), header, header + 4);
        out.insert(out.end(), 417 - 4, 0);
    }
    return out;
}

// Plays the engine frame by frame until it has nothing left (or `max_values`
// were played) and returns what its sounds produced, without the padding of
// the last frame.
inline std::vector<i16> played(AudioEngine& engine, u64 max_values = u64{1} << 26) {
    std::vector<i16> out;
    while (engine.active && !engine.paused && out.size() < max_values) {
        const u64 real = std::min<u64>(engine.queued_values(), kRenderValues);
        const auto frame = engine.render_frame();
        out.insert(out.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(real));
    }
    return out;
}

}  // namespace tarvel::test
