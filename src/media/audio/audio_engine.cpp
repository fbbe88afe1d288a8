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
    return enqueue(SharedBytes(std::vector<u8>(data.begin(), data.end())), repeats, sounds);
}

Status AudioEngine::submit(SharedBytes data, u32 repeats) { return enqueue(std::move(data), repeats, sounds); }

Status AudioEngine::submit_effect(std::span<const u8> data, u32 repeats) {
    return enqueue(SharedBytes(std::vector<u8>(data.begin(), data.end())), repeats, effects);
}

bool AudioEngine::mixes_effects() const {
    if (!enhanced || !active || paused) return false;
    if (loop_source) return true;
    if (sounds.empty()) return false;
    const auto front = audio_format::recognise(sounds.front().data.span());
    return front.ok() && front->kind == SoundKind::Midi;
}

void AudioEngine::set_enhanced(bool on) {
    if (on == enhanced) return;
    enhanced = on;
    effects.clear();
    fade_tail.clear();
    gain = on ? volume_gain() : kFullGain;
}

void AudioEngine::adopt_decoders(AudioEngine& running) {
    for (std::deque<QueuedSound>* restored : {&sounds, &effects}) {
        for (QueuedSound& sound : *restored) {
            if (sound.decoder.stream || sound.cursor.block != kEnhancedBlock) continue;
            for (std::deque<QueuedSound>* live : {&running.sounds, &running.effects}) {
                const auto found = std::find_if(live->begin(), live->end(), [&](const QueuedSound& s) {
                    return s.decoder.stream && s.decoder.stream->can_resume_at(sound.cursor) && s.data == sound.data;
                });
                if (found == live->end()) continue;
                // The decoder reads the running sound's bytes (the same
                // bytes): the restored sound shares them from now on.
                sound.decoder.stream = std::move(found->decoder.stream);
                sound.data = found->data;
                break;
            }
        }
    }
}

Status AudioEngine::enqueue(SharedBytes data, u32 repeats, std::deque<QueuedSound>& into) {
    bytes_submitted = saturating_add(bytes_submitted, data.size());
    if (auto recognised = audio_format::recognise(data.span()); !recognised) {
        rejected = saturating_add(rejected, 1);
        return std::move(recognised).error();
    }
    QueuedSound sound;
    sound.data = std::move(data);
    sound.cursor.copies_left = repeats;
    if (enhanced) sound.cursor.block = kEnhancedBlock;
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

    if (&into == &effects) {
        if (effects.size() >= kMaxEffects) effects.pop_front();
        effects.push_back(std::move(sound));
        return {};
    }
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
    return enqueue(source, 0, sounds).ok();
}

void AudioEngine::render_frame(std::span<i16, kRenderValues> out) {
    if (enhanced) {
        render_enhanced(out);
        return;
    }
    const size_t taken = play_queue(out, false);
    std::transform(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(taken), out.begin(),
                   [v = volume](i16 s) { return scaled(s, v); });
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(taken), out.end(), i16{0});
}

size_t AudioEngine::play_queue(std::span<i16> out, bool even_paused) {
    const size_t room = out.size() & ~size_t{1};
    size_t taken = 0;
    if (active && (!paused || even_paused)) {
        bool resubmitted = false;
        const bool was_empty = nothing_queued();
        if (was_empty && loop_source) {
            resubmitted = queue_loop_copy();
            if (!resubmitted) active = false;
        }
        if (active) {
            taken = std::min(queue.size(), room);
            std::copy_n(queue.begin(), taken, out.begin());
            queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
            bool looped_without_sound = false;
            while (taken < room && !sounds.empty()) {
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
                const SoundStream::Step step = sound.decoder.stream->convert(sound.cursor, out.subspan(taken, room - taken));
                taken += step.values;
                nonzero_samples = saturating_add(nonzero_samples, step.nonzero);
                if (step.waiting) break;  // a rebuilt enhanced stream catching up holds the queue
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
            if (nothing_queued() && !loop_source) active = false;
        }
        if (was_empty && !resubmitted) {
            silent_frames = saturating_add(silent_frames, room / 2);
            active = false;
        }
    }
    return taken;
}

void AudioEngine::mix_layers(std::span<i32> mix, bool even_paused) {
    std::array<i16, kRenderValues> part{};
    const size_t room = std::min(mix.size(), part.size()) & ~size_t{1};
    const size_t taken = play_queue(std::span<i16>(part).first(room), even_paused);
    for (size_t i = 0; i < taken; ++i) mix[i] += part[i];
    for (auto it = effects.begin(); it != effects.end();) {
        QueuedSound& fx = *it;
        if (!fx.decoder.stream) {
            auto reopened = SoundStream::open(fx.data.span(), fx.cursor);
            if (!reopened) {
                TARVEL_LOG(Warn, audio_format::kLogTarget, "Queued sound dropped: {}", reopened.error().to_string());
                it = effects.erase(it);
                continue;
            }
            fx.decoder.stream = std::move(*reopened);
        }
        size_t got = 0;
        bool finished = false;
        while (got < room) {
            const SoundStream::Step step = fx.decoder.stream->convert(fx.cursor, std::span<i16>(part).subspan(got, room - got));
            got += step.values;
            nonzero_samples = saturating_add(nonzero_samples, step.nonzero);
            if (step.error) TARVEL_LOG(Warn, audio_format::kLogTarget, "Sound ended early: {}", step.error->to_string());
            finished = step.finished;
            if (step.finished || step.waiting || step.values == 0) break;
        }
        for (size_t i = 0; i < got; ++i) mix[i] += part[i];
        it = finished ? effects.erase(it) : it + 1;
    }
}

namespace {

i16 apply_gain(i32 v, u32 gain) {
    const i64 scaled_value = i64{v} * gain / kFullGain;
    return static_cast<i16>(std::clamp<i64>(scaled_value, -32768, 32767));
}

u32 step_gain(u32 gain, u32 target) {
    constexpr u32 kStep = (kFullGain + kFadeFrames - 1) / kFadeFrames;
    return gain < target ? std::min(target, gain + kStep) : std::max<i64>(target, i64{gain} - kStep);
}

}  // namespace

void AudioEngine::render_enhanced(std::span<i16, kRenderValues> out) {
    std::array<i32, kRenderValues> mix{};
    const u32 target = paused ? 0 : volume_gain();
    // While paused the sound plays on only until its fade has ended.
    constexpr u32 kStep = (kFullGain + kFadeFrames - 1) / kFadeFrames;
    const size_t frames = !paused ? kRenderFrames : std::min<size_t>(kRenderFrames, (gain + kStep - 1) / kStep);
    if (frames > 0) mix_layers(std::span<i32>(mix).first(frames * 2), true);
    for (size_t f = 0; f < kRenderFrames; ++f) {
        out[2 * f] = apply_gain(mix[2 * f], gain);
        out[2 * f + 1] = apply_gain(mix[2 * f + 1], gain);
        gain = step_gain(gain, target);
    }
    // A stopped sound's tail has had its fade already.
    const size_t tail = std::min(fade_tail.size(), out.size());
    for (size_t i = 0; i < tail; ++i) out[i] = static_cast<i16>(std::clamp(out[i] + fade_tail[i], -32768, 32767));
    fade_tail.erase(fade_tail.begin(), fade_tail.begin() + static_cast<std::ptrdiff_t>(tail));
}

std::array<i16, kRenderValues> AudioEngine::render_frame() {
    std::array<i16, kRenderValues> out;
    render_frame(std::span<i16, kRenderValues>(out));
    return out;
}

void AudioEngine::stop() {
    if (enhanced && gain > 0 && (active || !effects.empty())) {
        // What would have played next, faded from the present gain to silence.
        std::array<i32, kFadeFrames * 2> mix{};
        mix_layers(mix, paused);
        fade_tail.resize(mix.size());
        for (u32 f = 0; f < kFadeFrames; ++f) {
            const u32 g = static_cast<u32>(u64{gain} * (kFadeFrames - f) / kFadeFrames);
            fade_tail[2 * f] = apply_gain(mix[2 * f], g);
            fade_tail[2 * f + 1] = apply_gain(mix[2 * f + 1], g);
        }
        gain = volume_gain();
    }
    effects.clear();
    queue.clear();
    sounds.clear();
    loop_source.reset();
    active = false;
    paused = false;
}

void AudioEngine::set_volume(u32 percent) { volume = std::min<u32>(percent, 100); }

u32 AudioEngine::state() const {
    if (paused) return 2;
    return active || !effects.empty() ? 1 : 0;
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
