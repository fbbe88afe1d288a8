// MPEG audio Layer III through libmpg123's feed interface: the whole stream is
// handed over from memory at once (no files), then frames are decoded until
// the decoder asks for more input, which means the stream has ended.
//
// A long stream is not held whole: only the last stretch that can still reach
// the queue is kept (see tail_frames_needed), and decoding stops after
// kMaxMp3Seconds of audio, so a small hostile file that decodes to hours costs
// bounded memory and time.

#include <cstring>
#include <memory>

#include <mpg123.h>

#include "media/audio/formats.hpp"
#include "common/log.hpp"

namespace tarvel::audio_format {

namespace {

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
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
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

// Drops decoded frames from the front once the buffer is twice the tail the
// resampler needs, so memory stays proportional to the kept tail.
void trim_to_tail(DecodedTail& out) {
    const u64 channels = out.sound.channels;
    const u64 keep = tail_frames_needed(out.sound.rate) * channels;
    std::vector<float>& s = out.sound.samples;
    if (s.size() <= 2 * keep) return;
    const u64 drop_frames = (s.size() - keep) / channels;
    s.erase(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(drop_frames * channels));
    out.skipped_frames += drop_frames;
}

}  // namespace

Result<DecodedTail> decode_mp3(std::span<const u8> data) {
    TARVEL_TRY_ASSIGN(Handle h, open_decoder());
    if (mpg123_open_feed(h.get()) != MPG123_OK) return Error("failed to probe MP3 stream");
    if (mpg123_feed(h.get(), data.data(), data.size()) != MPG123_OK) return Error("failed to probe MP3 stream");

    DecodedTail out;
    bool have_format = false;
    u64 decoded_frames = 0;
    int malformed_in_a_row = 0;
    for (;;) {
        off_t frame_number = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int rc = mpg123_decode_frame(h.get(), &frame_number, &audio, &bytes);
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;  // everything was fed: the stream ended
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0)
                return Error("failed to probe MP3 stream");
            if (have_format && (out.sound.rate != static_cast<u32>(rate) || out.sound.channels != static_cast<u32>(channels)))
                return Error("MP3 stream changed audio format while decoding");
            out.sound.rate = static_cast<u32>(rate);
            out.sound.channels = static_cast<u32>(channels);
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
        const size_t count = bytes / 2;
        const size_t start = out.sound.samples.size();
        out.sound.samples.resize(start + count);
        for (size_t i = 0; i < count; ++i) {
            i16 v;
            std::memcpy(&v, audio + 2 * i, 2);  // host order from the decoder
            out.sound.samples[start + i] = static_cast<float>(v) / 32768.0f;
        }
        decoded_frames += count / out.sound.channels;
        trim_to_tail(out);
        if (decoded_frames >= kMaxMp3Seconds * out.sound.rate) {
            TARVEL_LOG(Warn, kLogTarget, "MP3 stream is longer than {} s; the rest is not decoded", kMaxMp3Seconds);
            break;
        }
    }
    if (!have_format) return Error("failed to probe MP3 stream");
    if (out.sound.samples.empty()) return Error("MP3 stream decoded to no samples");
    return out;
}

}  // namespace tarvel::audio_format
