#include "media/audio/audio_engine.hpp"

#include <algorithm>
#include <limits>

#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"

namespace tarvel {

namespace audio_format {

namespace {

bool is_wav(std::span<const u8> d) {
    return d.size() >= 12 && std::equal(d.begin(), d.begin() + 4, "RIFF") &&
           std::equal(d.begin() + 8, d.begin() + 12, "WAVE");
}

// An ID3 tag in front of the stream, or a frame sync (11 set bits).
bool is_mp3(std::span<const u8> d) {
    if (d.size() >= 3 && d[0] == 0x49 && d[1] == 0x44 && d[2] == 0x33) return true;
    return d.size() >= 2 && d[0] == 0xFF && d[1] >= 0xE0;
}

}  // namespace

Result<Recognised> recognise(std::span<const u8> data) {
    if (is_wav(data)) return Recognised{Kind::Wav, data};
    if (is_mp3(data)) return Recognised{Kind::Mp3, data};
    if (data.size() >= 5) {
        const u16 type = load_le16(data.data());
        const u32 length = u32{data[2]} << 16 | u32{data[3]} << 8 | data[4];
        if (data.size() - 5 >= length) {
            const std::span<const u8> payload = data.subspan(5, length);
            if (type == kWrapperTypeMidi) return Recognised{Kind::Midi, payload};
            if (is_wav(payload)) return Recognised{Kind::Wav, payload};
            if (is_mp3(payload)) return Recognised{Kind::Mp3, payload};
            return Error::format("unknown audio resource type {}", type);
        }
    }
    return Error::format("unrecognized audio data ({} bytes)", data.size());
}

}  // namespace audio_format

namespace {

u64 saturating_add(u64 a, u64 b) { return a > ~u64{0} - b ? ~u64{0} : a + b; }

u64 saturating_mul(u64 a, u64 b) {
    if (a != 0 && b > ~u64{0} / a) return ~u64{0};
    return a * b;
}

Result<audio_format::DecodedTail> decode(const audio_format::Recognised& what) {
    using audio_format::Kind;
    switch (what.kind) {
    case Kind::Wav: {
        TARVEL_TRY_ASSIGN(DecodedSound sound, audio_format::decode_wav(what.payload));
        return audio_format::DecodedTail{std::move(sound), 0};
    }
    case Kind::Mp3:
        return audio_format::decode_mp3(what.payload);
    case Kind::Midi: {
        TARVEL_TRY_ASSIGN(DecodedSound sound, render_midi(what.payload));
        return audio_format::DecodedTail{std::move(sound), 0};
    }
    }
    return Error("unrecognized audio data");
}

// Appends `sound` `copies` times and cuts the queue to its newest
// kMaxQueuedValues values, touching only what survives: when the copies alone
// fill the cap, the old queue goes and just the last copies are written.
void append_capped(std::deque<i16>& queue, std::span<const i16> sound, u64 copies) {
    const u64 n = sound.size();
    const u64 incoming = saturating_mul(n, copies);
    if (incoming >= kMaxQueuedValues) {
        queue.clear();
        // The kept stretch starts this far into a copy and runs to the end of the last one.
        u64 start = (n - kMaxQueuedValues % n) % n;
        u64 left = kMaxQueuedValues;
        while (left > 0) {
            const u64 take = std::min(n - start, left);
            queue.insert(queue.end(), sound.begin() + static_cast<std::ptrdiff_t>(start),
                         sound.begin() + static_cast<std::ptrdiff_t>(start + take));
            left -= take;
            start = 0;
        }
        return;
    }
    const u64 total = queue.size() + incoming;
    if (total > kMaxQueuedValues) queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(total - kMaxQueuedValues));
    for (u64 i = 0; i < copies; ++i) queue.insert(queue.end(), sound.begin(), sound.end());
}

i16 scaled(i16 v, u32 volume) {
    const i32 percent = volume < 100 ? static_cast<i32>(volume) : 100;  // a restored state may hold more
    return static_cast<i16>(v * percent / 100);
}

}  // namespace

AudioEngine make_audio_engine(u32 volume) {
    AudioEngine engine;
    engine.set_volume(volume);
    return engine;
}

Status AudioEngine::submit(std::span<const u8> data, u32 repeats) {
    bytes_submitted = saturating_add(bytes_submitted, data.size());
    auto recognised = audio_format::recognise(data);
    if (!recognised) {
        rejected = saturating_add(rejected, 1);
        return std::move(recognised).error();
    }
    TARVEL_TRY_ASSIGN(audio_format::DecodedTail decoded, decode(*recognised));
    u64 total_frames = 0;
    const std::vector<i16> converted = audio_format::resample_tail(decoded, total_frames);
    if (converted.size() < 2) {
        rejected = saturating_add(rejected, 1);
        return Error("audio data decoded to no samples");
    }
    // Counted over the converted values that were computed: the whole sound,
    // or for a sound longer than the queue its last 10 s (see resample_tail).
    nonzero_samples = saturating_add(
        nonzero_samples, static_cast<u64>(std::count_if(converted.begin(), converted.end(), [](i16 v) { return v != 0; })));
    const u64 copies = u64{repeats} + 1;
    // The count of copies saturates at 0xFFFFFFFF before it multiplies.
    frames_queued = saturating_add(frames_queued, saturating_mul(total_frames, std::min<u64>(copies, 0xFFFFFFFFu)));
    append_capped(queue, converted, copies);
    peak_frames = std::max<u64>(peak_frames, queue.size() / 2);
    active = true;
    paused = false;
    return {};
}

void AudioEngine::render_frame(std::span<i16, kRenderValues> out) {
    size_t taken = 0;
    if (active && !paused) {
        bool resubmitted = false;
        const bool was_empty = queue.empty();
        if (was_empty && loop_source) {
            // The loop source is read in place: submit never changes it.
            const std::vector<u8>& source = *loop_source;
            resubmitted = submit(source, 0).ok();
            if (!resubmitted) active = false;
        }
        if (active) {
            taken = std::min(queue.size(), kRenderValues);
            auto end = queue.begin() + static_cast<std::ptrdiff_t>(taken);
            std::transform(queue.begin(), end, out.begin(), [v = volume](i16 s) { return scaled(s, v); });
            queue.erase(queue.begin(), end);
            if (queue.empty() && !loop_source) active = false;
        }
        if (was_empty && !resubmitted) {
            silent_frames = saturating_add(silent_frames, kRenderFrames);
            active = false;
        }
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(taken), out.end(), i16{0});
}

std::array<i16, kRenderValues> AudioEngine::render_frame() {
    std::array<i16, kRenderValues> out;
    render_frame(std::span<i16, kRenderValues>(out));
    return out;
}

void AudioEngine::stop() {
    queue.clear();
    loop_source.reset();
    active = false;
    paused = false;
}

void AudioEngine::set_volume(u32 percent) { volume = std::min<u32>(percent, 100); }

u32 AudioEngine::state() const {
    if (paused) return 2;
    return active ? 1 : 0;
}

}  // namespace tarvel
