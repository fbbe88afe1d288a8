// MPEG audio through libmpg123's feed interface, one chunk of frames at a time.
//
// Long music must not be decoded in one go (a ten-minute stream takes a large
// part of a second), and it must be possible to pick decoding up again in the
// middle, after a state restore, and get the very same samples. Both come from
// decoding in chunks: the stream is cut at frame boundaries into chunks of
// kChunkFrames frames, and each chunk is decoded by a fresh decoder that is
// fed from some frames before the chunk (the preroll) and whose output for
// those frames is thrown away. The decoder's memory (the bit reservoir, the
// overlap of the transform and the synthesis filter) reaches back less than
// the preroll, so the chunk's own frames decode as they would in one pass,
// and a chunk's samples depend on nothing but the bytes and where the chunk
// starts.
//
// The frame boundaries come from the frame headers (sync word, version, layer,
// bit rate, sample rate, padding); bytes between frames are skipped like the
// decoder skips them.

#include <array>
#include <cstring>
#include <memory>

#include <mpg123.h>

#include "common/log.hpp"
#include "media/audio/formats.hpp"

namespace tarvel::audio_format {

namespace {

constexpr u32 kChunkFrames = 32;
// The preroll reaches back at least this many bytes (the bit reservoir of a
// frame reaches back at most 511) and whole groups of 8 frames, after which a
// fresh decoder's synthesis filter stands where a running one would.
constexpr u64 kPrerollBytes = 1024;
constexpr u32 kPrerollStep = 8;

struct HandleDeleter {
    void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

// Errors that mean "these bytes are not a valid frame": the decoder resyncs
// past them, so the packet is skipped and decoding goes on.
bool is_malformed_data(int code) {
    return code == MPG123_OUT_OF_SYNC || code == MPG123_RESYNC_FAIL || code == MPG123_BAD_VALUE ||
           code == MPG123_BAD_DECODER_SETUP;
}

// A decoder stuck on the same bad bytes would never end; after this many
// malformed packets in a row with no audio between them the stream is given up.
constexpr int kMaxMalformedInARow = 64;

Result<Handle> open_decoder() {
    static const int init_result = mpg123_init();  // required once by older library versions
    if (init_result != MPG123_OK) return Error("failed to create MP3 decoder");
    int err = MPG123_OK;
    Handle h(mpg123_new(nullptr, &err));
    if (!h) return Error("failed to create MP3 decoder");
    // Whole frames are fed, so each can be decoded without waiting for the
    // next one to confirm the stream.
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_READAHEAD, 0);
    // Signed 16-bit output at the stream's own rate and channel count; the
    // engine's resampler does the rest.
    mpg123_format_none(h.get());
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; ++i)
        mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return h;
}

// ---- frame headers

constexpr std::array<u16, 15> kBitratesV1L1{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
constexpr std::array<u16, 15> kBitratesV1L2{0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr std::array<u16, 15> kBitratesV1L3{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<u16, 15> kBitratesV2L1{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
constexpr std::array<u16, 15> kBitratesV2L23{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

// The length of the frame whose header starts at `p` (4 bytes readable), or 0
// when those bytes are no frame header whose length is known (free-format
// frames included).
u32 frame_length(const u8* p) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    const u32 version = (p[1] >> 3) & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const u32 layer = (p[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const u32 bitrate_index = p[2] >> 4;
    const u32 rate_index = (p[2] >> 2) & 3;
    const u32 padding = (p[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) return 0;
    constexpr u32 kRates[3] = {44100, 48000, 32000};
    const u32 rate = kRates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const bool v1 = version == 3;
    u32 kbps = 0;
    if (layer == 3) kbps = (v1 ? kBitratesV1L1 : kBitratesV2L1)[bitrate_index];
    else if (layer == 2) kbps = (v1 ? kBitratesV1L2 : kBitratesV2L23)[bitrate_index];
    else kbps = (v1 ? kBitratesV1L3 : kBitratesV2L23)[bitrate_index];
    const u32 bits = kbps * 1000;
    if (layer == 3) return (12 * bits / rate + padding) * 4;
    if (layer == 1 && !v1) return 72 * bits / rate + padding;
    return 144 * bits / rate + padding;
}

// The first frame header at or after `pos`, or data.size() when none is left.
u64 next_frame(std::span<const u8> data, u64 pos) {
    for (; pos + 4 <= data.size(); ++pos) {
        if (frame_length(data.data() + pos) != 0) return pos;
    }
    return data.size();
}

// A leading ID3v2 tag: its whole length, footer included; 0 when there is none.
u64 id3_length(std::span<const u8> data) {
    if (data.size() < 10 || data[0] != 'I' || data[1] != 'D' || data[2] != '3') return 0;
    const u64 body = (u64{data[6]} & 0x7F) << 21 | (u64{data[7]} & 0x7F) << 14 | (u64{data[8]} & 0x7F) << 7 |
                     (u64{data[9]} & 0x7F);
    return std::min<u64>(10 + body + ((data[5] & 0x10) ? 10 : 0), data.size());
}

}  // namespace

Result<Mp3Chunk> decode_mp3_chunk(std::span<const u8> data, const Mp3ChunkStart& at, std::vector<float>& out) {
    out.clear();
    if (at.feed_from > at.first_frame || at.first_frame > data.size()) return Error("invalid MP3 chunk position");

    // Walk the chunk's frames to find where it ends and where the next one
    // (with its preroll) starts.
    Mp3Chunk chunk;
    chunk.samples = &out;
    std::array<u64, kChunkFrames> starts{};
    u64 pos = at.first_frame == 0 ? id3_length(data) : at.first_frame;
    u32 frames = 0;
    while (frames < kChunkFrames) {
        const u64 frame = next_frame(data, pos);
        if (frame >= data.size()) break;
        starts[frames++] = frame;
        pos = frame + frame_length(data.data() + frame);
    }
    const u64 following = frames == kChunkFrames ? next_frame(data, pos) : data.size();
    chunk.last = following >= data.size();
    const u64 end = chunk.last ? data.size() : following;
    if (!chunk.last) {
        u32 preroll = kPrerollStep;
        while (preroll < kChunkFrames && following - starts[kChunkFrames - preroll] < kPrerollBytes)
            preroll += kPrerollStep;
        chunk.next.first_frame = following;
        chunk.next.feed_from = starts[kChunkFrames - preroll];
        chunk.next.preroll = preroll;
    }

    TARVEL_TRY_ASSIGN(Handle h, open_decoder());
    if (mpg123_open_feed(h.get()) != MPG123_OK) return Error("failed to probe MP3 stream");
    const u64 fed = end - at.feed_from;
    if (fed > 0 && mpg123_feed(h.get(), data.data() + at.feed_from, static_cast<size_t>(fed)) != MPG123_OK)
        return Error("failed to probe MP3 stream");

    bool have_format = false;
    u32 decoded_frames = 0;
    int malformed_in_a_row = 0;
    for (;;) {
        off_t frame_number = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int rc = mpg123_decode_frame(h.get(), &frame_number, &audio, &bytes);
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;  // everything fed was decoded
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0)
                return Error("failed to probe MP3 stream");
            if (have_format && (chunk.rate != static_cast<u32>(rate) || chunk.channels != static_cast<u32>(channels)))
                return Error("MP3 stream changed audio format while decoding");
            chunk.rate = static_cast<u32>(rate);
            chunk.channels = static_cast<u32>(channels);
            have_format = true;
            continue;
        }
        if (rc != MPG123_OK) {
            const int code = rc == MPG123_ERR ? mpg123_errcode(h.get()) : rc;
            const char* text = mpg123_plain_strerror(code);
            if (!is_malformed_data(code)) return Error::format("failed to decode MP3 packet: {}", text);
            if (++malformed_in_a_row > kMaxMalformedInARow)
                return Error::format("failed to decode MP3 packet: {}", text);
            TARVEL_LOG(Warn, kLogTarget, "Skipping malformed MP3 packet: {}", text);
            continue;
        }
        malformed_in_a_row = 0;
        if (!have_format || !audio || bytes == 0) continue;
        if (decoded_frames++ < at.preroll) continue;  // only primes the decoder
        const size_t count = bytes / 2;
        const size_t start = out.size();
        out.resize(start + count);
        for (size_t i = 0; i < count; ++i) {
            i16 v;
            std::memcpy(&v, audio + 2 * i, 2);  // host order from the decoder
            out[start + i] = static_cast<float>(v) / 32768.0f;
        }
    }
    if (!have_format) {
        if (at.first_frame == 0) return Error("failed to probe MP3 stream");
        chunk.channels = 0;  // a chunk of nothing but unreadable bytes
    }
    return chunk;
}

Result<DecodedSound> decode_mp3(std::span<const u8> data) {
    DecodedSound sound;
    sound.channels = 0;
    std::vector<float> block;
    Mp3ChunkStart at;
    for (;;) {
        TARVEL_TRY_ASSIGN(const Mp3Chunk chunk, decode_mp3_chunk(data, at, block));
        if (chunk.channels != 0) {
            if (sound.channels == 0) {
                sound.channels = chunk.channels;
                sound.rate = chunk.rate;
            } else if (sound.channels != chunk.channels || sound.rate != chunk.rate) {
                return Error("MP3 stream changed audio format while decoding");
            }
            sound.samples.insert(sound.samples.end(), block.begin(), block.end());
        }
        if (chunk.last) break;
        at = chunk.next;
    }
    if (sound.samples.empty()) return Error("MP3 stream decoded to no samples");
    return sound;
}

}  // namespace tarvel::audio_format
