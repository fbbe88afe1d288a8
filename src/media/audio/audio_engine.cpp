#include "media/audio/audio_engine.hpp"

#include <algorithm>
#include <limits>

#include "common/log.hpp"
#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"
#include "media/audio/sound_stream.hpp"

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
    if (is_wav(data)) return Recognised{SoundKind::Wav, data};
    if (is_mp3(data)) return Recognised{SoundKind::Mp3, data};
    if (data.size() >= 5) {
        const u16 type = load_le16(data.data());
        const u32 length = u32{data[2]} << 16 | u32{data[3]} << 8 | data[4];
        if (data.size() - 5 >= length) {
            const std::span<const u8> payload = data.subspan(5, length);
            if (type == kWrapperTypeMidi) return Recognised{SoundKind::Midi, payload};
            if (is_wav(payload)) return Recognised{SoundKind::Wav, payload};
            if (is_mp3(payload)) return Recognised{SoundKind::Mp3, payload};
            return Error::format("unknown audio resource type {}", type);
        }
    }
    return Error::format("unrecognized audio data ({} bytes)", data.size());
}

}  // namespace audio_format

StreamHolder::StreamHolder() = default;
StreamHolder::StreamHolder(const StreamHolder&) {}
StreamHolder::StreamHolder(StreamHolder&&) noexcept = default;
StreamHolder& StreamHolder::operator=(const StreamHolder&) {
    stream.reset();
    return *this;
}
StreamHolder& StreamHolder::operator=(StreamHolder&&) noexcept = default;
StreamHolder::~StreamHolder() = default;

namespace {

u64 saturating_add(u64 a, u64 b) { return a > ~u64{0} - b ? ~u64{0} : a + b; }

u64 saturating_mul(u64 a, u64 b) {
    if (a != 0 && b > ~u64{0} / a) return ~u64{0};
    return a * b;
}

// What a sound whose length is not known yet counts as.
constexpr u64 kUnknownLength = u64{1} << 62;

u64 remaining_frames(const StreamCursor& c) {
    if (c.copy_frames == 0) return kUnknownLength;
    const u64 current = c.copy_frames > c.out_frame ? c.copy_frames - c.out_frame : 0;
    return saturating_add(current, saturating_mul(c.copies_left, c.copy_frames));
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
    return enqueue(SharedBytes(std::vector<u8>(data.begin(), data.end())), repeats);
}

Status AudioEngine::submit(SharedBytes data, u32 repeats) { return enqueue(std::move(data), repeats); }

Status AudioEngine::enqueue(SharedBytes data, u32 repeats) {
    bytes_submitted = saturating_add(bytes_submitted, data.size());
    if (auto recognised = audio_format::recognise(data.span()); !recognised) {
        rejected = saturating_add(rejected, 1);
        return std::move(recognised).error();
    }
    QueuedSound sound;
    sound.data = std::move(data);
    sound.cursor.copies_left = repeats;
    TARVEL_TRY_ASSIGN(sound.decoder.stream, SoundStream::open(sound.data.span(), sound.cursor));
    const StreamCursor& c = sound.cursor;
    if (c.copy_frames == 0 && sound.decoder.stream->kind() != SoundKind::Mp3) {
        rejected = saturating_add(rejected, 1);
        return Error("audio data decoded to no samples");
    }
    // The count of copies saturates at 0xFFFFFFFF before it multiplies. An
    // MP3's length is known once it has been decoded to its end; its copies
    // are counted as they finish.
    if (c.copy_frames != 0) frames_queued = saturating_add(frames_queued, saturating_mul(c.copy_frames, std::min<u64>(u64{repeats} + 1, 0xFFFFFFFFu)));

    if (sounds.size() >= kMaxQueuedSounds) sounds.pop_front();
    sounds.push_back(std::move(sound));
    u64 known = queue.size() / 2;
    for (const QueuedSound& s : sounds) {
        if (s.cursor.copy_frames != 0) known = saturating_add(known, remaining_frames(s.cursor));
    }
    peak_frames = std::max(peak_frames, known);
    active = true;
    paused = false;
    return {};
}

bool AudioEngine::queue_loop_copy() {
    // The loop source is shared, not copied: submit never changes it.
    const SharedBytes source = *loop_source;
    return enqueue(source, 0).ok();
}

void AudioEngine::render_frame(std::span<i16, kRenderValues> out) {
    size_t taken = 0;
    if (active && !paused) {
        bool resubmitted = false;
        const bool was_empty = nothing_queued();
        if (was_empty && loop_source) {
            resubmitted = queue_loop_copy();
            if (!resubmitted) active = false;
        }
        if (active) {
            taken = std::min(queue.size(), kRenderValues);
            std::copy_n(queue.begin(), taken, out.begin());
            queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
            bool looped_without_sound = false;
            while (taken < kRenderValues && !sounds.empty()) {
                QueuedSound& sound = sounds.front();
                if (!sound.decoder.stream) {
                    auto reopened = SoundStream::open(sound.data.span(), sound.cursor);
                    if (!reopened) {
                        TARVEL_LOG(Warn, audio_format::kLogTarget, "Queued sound dropped: {}", reopened.error().to_string());
                        sounds.pop_front();
                        continue;
                    }
                    sound.decoder.stream = std::move(*reopened);
                }
                const SoundStream::Step step = sound.decoder.stream->convert(sound.cursor, out.subspan(taken));
                taken += step.values;
                nonzero_samples = saturating_add(nonzero_samples, step.nonzero);
                if (!step.finished) continue;
                if (step.error)
                    TARVEL_LOG(Warn, audio_format::kLogTarget, "Sound ended early: {}", step.error->to_string());
                else if (sound.cursor.copy_frames != 0 && sound.decoder.stream->kind() == SoundKind::Mp3)
                    frames_queued = saturating_add(frames_queued, sound.cursor.copy_frames);
                const bool produced = step.values > 0;
                sounds.pop_front();
                if (sounds.empty() && queue.empty() && loop_source) {
                    // The loop continues right after the last sample; a loop
                    // that yields nothing is not retried within the frame.
                    if (looped_without_sound && !produced) break;
                    looped_without_sound = !produced;
                    if (!queue_loop_copy()) {
                        active = false;
                        break;
                    }
                }
            }
            std::transform(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(taken), out.begin(),
                           [v = volume](i16 s) { return scaled(s, v); });
            if (nothing_queued() && !loop_source) active = false;
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
    sounds.clear();
    loop_source.reset();
    active = false;
    paused = false;
}

void AudioEngine::set_volume(u32 percent) { volume = std::min<u32>(percent, 100); }

u32 AudioEngine::state() const {
    if (paused) return 2;
    return active ? 1 : 0;
}

void AudioEngine::set_loop_source(std::optional<std::vector<u8>> data) {
    if (data) loop_source = SharedBytes(std::move(*data));
    else loop_source.reset();
}

void AudioEngine::loop_last_submitted() {
    if (!sounds.empty()) loop_source = sounds.back().data;
}

u64 AudioEngine::queued_values() const {
    u64 frames = 0;
    for (const QueuedSound& s : sounds) frames = saturating_add(frames, remaining_frames(s.cursor));
    return saturating_add(queue.size(), saturating_mul(frames, 2));
}

}  // namespace tarvel
