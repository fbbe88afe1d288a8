// RIFF/WAVE with 16-bit PCM samples. Chunks are walked from offset 12; sizes
// are trusted only as far as the data goes, so a header that declares more
// than the file holds reads what is there and no further.

#include <algorithm>
#include <cstring>

#include "media/audio/formats.hpp"

namespace tarvel::audio_format {

namespace {

constexpr size_t kFirstChunk = 12;
constexpr size_t kChunkHeader = 8;
constexpr size_t kFmtBody = 16;

bool chunk_is(const u8* header, const char (&id)[5]) { return std::memcmp(header, id, 4) == 0; }

}  // namespace

Result<WavLayout> read_wav_layout(std::span<const u8> data) {
    const size_t size = data.size();
    bool have_fmt = false;
    WavLayout layout;
    // Every step moves on by at least the 8-byte chunk header, so the walk
    // ends after at most size / 8 chunks whatever the sizes say.
    u64 offset = kFirstChunk;
    while (offset + kChunkHeader <= size) {
        const u8* header = data.data() + offset;
        const u64 declared = load_le32(header + 4);
        const u64 body = offset + kChunkHeader;
        const u64 available = std::min<u64>(declared, size - body);
        const u8* p = data.data() + body;
        if (chunk_is(header, "fmt ")) {
            if (available < kFmtBody) return Error("truncated WAV fmt chunk");
            const u16 format = load_le16(p);
            const u16 channels = load_le16(p + 2);
            const u32 rate = load_le32(p + 4);
            const u16 bits = load_le16(p + 14);
            if (format != 1) return Error::format("unsupported WAV format {}", format);
            if (bits != 16) return Error::format("unsupported WAV bit depth {}", bits);
            if (channels == 0 || rate == 0) return Error("WAV fmt chunk declares zero channels or sample rate");
            layout.channels = channels;
            layout.rate = rate;
            have_fmt = true;
        } else if (chunk_is(header, "data")) {
            if (!have_fmt) break;
            layout.offset = body;
            layout.values = available / 2;  // an odd last byte is not a sample
            return layout;
        }
        offset = body + declared + (declared & 1);
    }
    return Error("WAV file is missing fmt or data chunk");
}

}  // namespace tarvel::audio_format

namespace tarvel::audio_format {

void read_wav_values(std::span<const u8> data, const WavLayout& layout, u64 first, std::span<float> out) {
    for (size_t i = 0; i < out.size(); ++i) {
        const u64 index = first + i;
        if (index >= layout.values) {
            out[i] = 0.0f;
            continue;
        }
        const u8* p = data.data() + layout.offset + 2 * index;
        out[i] = static_cast<float>(static_cast<i16>(load_le16(p))) / 32768.0f;
    }
}

Result<DecodedSound> decode_wav(std::span<const u8> data) {
    TARVEL_TRY_ASSIGN(const WavLayout layout, read_wav_layout(data));
    DecodedSound sound;
    sound.channels = layout.channels;
    sound.rate = layout.rate;
    sound.samples.resize(static_cast<size_t>(layout.values));
    read_wav_values(data, layout, 0, sound.samples);
    return sound;
}

}  // namespace tarvel::audio_format
