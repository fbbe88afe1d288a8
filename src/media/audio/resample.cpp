// Conversion of decoded sound to the output format: linear interpolation to
// 44 100 Hz, mono doubled to both sides, channels past the second ignored.

#include <algorithm>

#include "media/audio/formats.hpp"

namespace tarvel::audio_format {

u64 tail_frames_needed(u32 rate) {
    // Output frame i reads input frames i * rate / 44100 and the one after; the
    // last kMaxQueuedFrames output frames reach back at most 10 s of input plus
    // one frame of rounding.
    return u64{rate} * kMaxQueuedFrames / kOutputRate + 2;
}

u64 output_frames(u64 frames_in, u32 rate) {
    if (rate == 0) return 0;
    // frames_in is at most 2^64 / 44100 in practice (it counts bytes of input),
    // but the product is taken in 128 bits so no input can wrap it.
    const unsigned __int128 scaled = static_cast<unsigned __int128>(frames_in) * kOutputRate;
    const unsigned __int128 out = (scaled + rate - 1) / rate;
    return out > ~u64{0} ? ~u64{0} : static_cast<u64>(out);
}

namespace {

i16 to_i16(float v) {
    const float scaled = v * 32767.0f;
    if (!(scaled > -32768.0f)) return -32768;  // also catches NaN
    if (scaled > 32767.0f) return 32767;
    return static_cast<i16>(scaled);  // truncates toward zero
}

}  // namespace

std::vector<i16> resample_tail(const DecodedTail& decoded, u64& total_frames_out) {
    total_frames_out = 0;
    const std::vector<float>& in = decoded.sound.samples;
    const u64 c = decoded.sound.channels;
    const u64 r = decoded.sound.rate;
    if (in.empty() || c == 0 || r == 0 || in.size() < c) return {};
    const u64 held = in.size() / c;
    const u64 frames_in = decoded.skipped_frames + held;
    total_frames_out = output_frames(frames_in, static_cast<u32>(r));
    const u64 first = total_frames_out > kMaxQueuedFrames ? total_frames_out - kMaxQueuedFrames : 0;

    std::vector<i16> out;
    out.reserve(static_cast<size_t>((total_frames_out - first) * 2));
    const u64 last_frame = frames_in - 1;
    // Frames before the kept window cannot be read; a window too short for the
    // tail (never the case for the decoders here) repeats its first frame.
    auto held_index = [&](u64 frame) {
        const u64 local = frame > decoded.skipped_frames ? frame - decoded.skipped_frames : 0;
        return static_cast<size_t>(local * c);
    };
    for (u64 i = first; i < total_frames_out; ++i) {
        const unsigned __int128 p = static_cast<unsigned __int128>(i) * r;
        const u64 u = static_cast<u64>(p / kOutputRate);
        const float frac = static_cast<float>(static_cast<u32>(p % kOutputRate)) / static_cast<float>(kOutputRate);
        const size_t a = held_index(std::min(u, last_frame));
        const size_t b = held_index(std::min(u + 1, last_frame));
        const float left = in[a] + (in[b] - in[a]) * frac;
        const float right = c > 1 ? in[a + 1] + (in[b + 1] - in[a + 1]) * frac : left;
        out.push_back(to_i16(left));
        out.push_back(to_i16(right));
    }
    return out;
}

}  // namespace tarvel::audio_format
