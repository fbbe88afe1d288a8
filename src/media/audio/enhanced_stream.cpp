#include "media/audio/enhanced_stream.hpp"

#include <soxr.h>

#include <algorithm>

namespace tarvel {

using audio_format::output_frames;

namespace {

// Output frames produced per step, and input frames read per chunk.
constexpr size_t kChunk = 1024;
constexpr u64 kWavChunk = 4096;
constexpr u64 kMidiChunk = 2048;

}  // namespace

Result<std::unique_ptr<EnhancedStream>> EnhancedStream::open(const audio_format::Recognised& what, StreamCursor& c) {
    std::unique_ptr<EnhancedStream> s(new EnhancedStream(what));
    const bool fresh = c.channels == 0;
    c.block = kEnhancedBlock;
    switch (what.kind) {
    case SoundKind::Wav: {
        TARVEL_TRY_ASSIGN(s->wav_, audio_format::read_wav_layout(what.payload));
        c.channels = s->wav_.channels;
        c.rate = s->wav_.rate;
        c.copy_frames = output_frames(s->wav_.values / s->wav_.channels, s->wav_.rate);
        break;
    }
    case SoundKind::Midi: {
        TARVEL_TRY_ASSIGN(MidiRenderer renderer, MidiRenderer::open(what.payload));
        // The copy lasts as long as with the built-in synthesiser, whichever plays it.
        c.channels = 1;
        c.rate = kMidiSampleRate;
        c.copy_frames = output_frames(renderer.sample_count(), kMidiSampleRate);
        s->use_sound_font_ = sound_font::available();
        if (!s->use_sound_font_) s->midi_.emplace(std::move(renderer));
        break;
    }
    case SoundKind::Mp3: {
        if (fresh) {
            // The first chunk with samples fixes the format, as in the linear
            // conversion; a stream without any is refused here.
            audio_format::Mp3ChunkStart at;
            for (;;) {
                TARVEL_TRY_ASSIGN(const audio_format::Mp3Chunk chunk,
                                  audio_format::decode_mp3_chunk(what.payload, at, s->scratch_));
                if (chunk.channels != 0) {
                    c.channels = chunk.channels;
                    c.rate = chunk.rate;
                    break;
                }
                if (chunk.last) return Error("MP3 stream decoded to no samples");
                at = chunk.next;
            }
        }
        break;
    }
    }
    if (c.channels == 0 || c.rate == 0) return Error("audio stream has no format");
    s->soxr_channels_ = std::min<u32>(c.channels, 2);
    s->produced_.resize(kChunk * 2);
    s->history_.resize(kHistoryFrames * 2);
    TARVEL_TRY(s->start_copy(c));
    return s;
}

EnhancedStream::~EnhancedStream() {
    if (soxr_) soxr_delete(soxr_);
}

bool EnhancedStream::can_resume_at(const StreamCursor& c) const {
    return c.copies_left == copies_left_ && c.out_frame <= made_ && made_ - c.out_frame <= kHistoryFrames;
}

Status EnhancedStream::start_copy(StreamCursor& c) {
    made_ = 0;
    copies_left_ = c.copies_left;
    input_.clear();
    input_used_ = 0;
    input_frames_ = 0;
    input_ended_ = false;
    flushed_ = false;
    mp3_next_ = {};
    mp3_last_ = false;
    if (use_sound_font_) {
        TARVEL_TRY_ASSIGN(tune_, sound_font::TunePlayer::open(what_.payload.data(), what_.payload.size()));
        return {};
    }
    if (midi_) midi_->seek(0);
    if (c.rate == kOutputRate) return {};
    if (soxr_) {
        soxr_clear(soxr_);
        return {};
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(c.rate, kOutputRate, soxr_channels_, &error, &io, &quality, &runtime);
    if (error != nullptr || soxr_ == nullptr) return Error::format("resampler: {}", error ? error : "not created");
    return {};
}

Result<bool> EnhancedStream::read_input(StreamCursor& c) {
    // Drop what the resampler has taken.
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(input_used_ * soxr_channels_));
    input_used_ = 0;
    const auto append = [&](std::span<const float> values, u32 channels) {
        for (size_t i = 0; i + channels <= values.size(); i += channels) {
            input_.push_back(values[i]);
            if (soxr_channels_ == 2) input_.push_back(values[i + 1]);
        }
        input_frames_ += values.size() / channels;
    };
    switch (what_.kind) {
    case SoundKind::Wav: {
        const u64 total = wav_.values / wav_.channels;
        const u64 n = std::min(kWavChunk, total - std::min(input_frames_, total));
        if (n == 0) return false;
        scratch_.resize(static_cast<size_t>(n * wav_.channels));
        audio_format::read_wav_values(what_.payload, wav_, input_frames_ * wav_.channels, scratch_);
        append(scratch_, wav_.channels);
        return true;
    }
    case SoundKind::Midi: {
        const u64 total = midi_->sample_count();
        const u64 n = std::min(kMidiChunk, total - std::min(input_frames_, total));
        if (n == 0) return false;
        scratch_.resize(static_cast<size_t>(n));
        midi_->render(scratch_);
        append(scratch_, 1);
        return true;
    }
    case SoundKind::Mp3:
        while (!mp3_last_) {
            TARVEL_TRY_ASSIGN(const audio_format::Mp3Chunk chunk,
                              audio_format::decode_mp3_chunk(what_.payload, mp3_next_, scratch_));
            mp3_last_ = chunk.last;
            mp3_next_ = chunk.next;
            if (chunk.channels == 0) continue;  // nothing readable in this chunk
            if (chunk.channels != c.channels || chunk.rate != c.rate)
                return Error("MP3 stream changed audio format while decoding");
            append(scratch_, chunk.channels);
            return true;
        }
        return false;
    }
    return false;
}

Result<size_t> EnhancedStream::produce(StreamCursor& c, float* out, size_t frames) {
    if (tune_) {
        tune_->render(out, frames);
        return frames;
    }
    const u32 ch = soxr_channels_;
    size_t done = 0;
    int idle = 0;  // rounds that neither took input nor gave output
    while (done < frames && !flushed_) {
        const size_t available = input_.size() / ch - input_used_;
        if (available == 0 && !input_ended_) {
            TARVEL_TRY_ASSIGN(const bool more, read_input(c));
            input_ended_ = !more;
            continue;
        }
        float* target = out + done * 2;
        size_t taken = 0, given = 0;
        if (!soxr_) {  // already at the output rate
            given = std::min(available, frames - done);
            std::copy_n(input_.data() + input_used_ * ch, given * ch, target);
            taken = given;
            if (given == 0) flushed_ = input_ended_;
        } else {
            const float* in = input_ended_ ? nullptr : input_.data() + input_used_ * ch;
            soxr_error_t error = soxr_process(soxr_, in, input_ended_ ? 0 : available, &taken, target, frames - done, &given);
            if (error != nullptr) return Error::format("resampler: {}", error);
            if (input_ended_ && given == 0) flushed_ = true;
        }
        input_used_ += taken;
        // Mono input was written one value a frame: spread it to both channels
        // (from the back, in place).
        if (ch == 1) {
            for (size_t i = given; i-- > 0;) target[2 * i] = target[2 * i + 1] = target[i];
        }
        done += given;
        idle = taken == 0 && given == 0 ? idle + 1 : 0;
        if (idle > 4 && !input_ended_) return Error("resampler made no progress");
    }
    return done;
}

StreamStep EnhancedStream::convert(StreamCursor& c, std::span<i16> out) {
    StreamStep step;
    if (c.out_frame < made_ && !can_resume_at(c)) {
        // Behind what it has kept (a cursor it was not made for): start over.
        if (Status s = start_copy(c); !s) {
            step.finished = true;
            step.error = std::move(s).error();
            return step;
        }
    }
    // Catching up with a cursor this stream was rebuilt at.
    if (made_ < c.out_frame) {
        u64 budget = kCatchUpFrames;
        while (budget > 0 && made_ < c.out_frame) {
            const size_t n = static_cast<size_t>(std::min<u64>({budget, c.out_frame - made_, kChunk}));
            auto got = produce(c, produced_.data(), n);
            if (!got) {
                step.finished = true;
                step.error = std::move(got).error();
                return step;
            }
            std::fill(produced_.begin() + static_cast<std::ptrdiff_t>(*got * 2),
                      produced_.begin() + static_cast<std::ptrdiff_t>(n * 2), 0.0f);  // past the input's end
            for (size_t i = 0; i < n * 2; ++i)
                history_[static_cast<size_t>(((made_ + i / 2) % kHistoryFrames) * 2 + i % 2)] =
                    audio_format::sample_to_i16(produced_[i]);
            made_ += n;
            budget -= n;
        }
        if (made_ < c.out_frame) {
            step.waiting = true;
            return step;
        }
    }
    const size_t room = out.size() / 2;
    size_t frames = 0;
    // Frames this stream made before, for a cursor handed back to it.
    for (; frames < room && c.out_frame < made_; ++frames, ++c.out_frame) {
        const size_t at = static_cast<size_t>(c.out_frame % kHistoryFrames) * 2;
        for (size_t k = 0; k < 2; ++k) {
            out[frames * 2 + k] = history_[at + k];
            if (c.first_copy) step.nonzero += history_[at + k] != 0;
        }
    }
    while (frames < room) {
        const u64 limit = c.copy_frames;  // 0 while an MP3's length is not known
        if (limit != 0 && c.out_frame >= limit) {
            if (c.copies_left == 0) {
                step.finished = true;
                break;
            }
            --c.copies_left;
            c.first_copy = false;
            c.out_frame = 0;
            if (Status s = start_copy(c); !s) {
                step.finished = true;
                step.error = std::move(s).error();
                break;
            }
            continue;
        }
        size_t want = std::min(room - frames, kChunk);
        if (limit != 0) want = static_cast<size_t>(std::min<u64>(want, limit - c.out_frame));
        auto got = produce(c, produced_.data(), want);
        if (!got) {
            step.finished = true;
            step.error = std::move(got).error();
            break;
        }
        size_t n = *got;
        if (n < want) {
            if (limit == 0) {
                c.copy_frames = c.out_frame + n;  // the MP3 has ended: now its length is known
                if (c.copy_frames == 0) {
                    step.finished = true;
                    step.error = Error("audio data decoded to no samples");
                    break;
                }
            } else {
                std::fill(produced_.begin() + static_cast<std::ptrdiff_t>(n * 2),
                          produced_.begin() + static_cast<std::ptrdiff_t>(want * 2), 0.0f);
                n = want;
            }
        }
        for (size_t i = 0; i < n * 2; ++i) {
            const i16 v = audio_format::sample_to_i16(produced_[i]);
            out[(frames * 2) + i] = v;
            history_[static_cast<size_t>(((made_ + i / 2) % kHistoryFrames) * 2 + i % 2)] = v;
            if (c.first_copy) step.nonzero += v != 0;
        }
        frames += n;
        c.out_frame += n;
        made_ += n;
    }
    step.values = frames * 2;
    return step;
}

}  // namespace tarvel
