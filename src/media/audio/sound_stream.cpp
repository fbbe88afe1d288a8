// Conversion of a queued sound, block by block, to 44 100 Hz stereo i16.
//
// Output frame i of a copy reads input frames u = floor(i * rate / 44100) and
// u + 1 (both held at the last frame past the end) and interpolates linearly,
// exactly as a conversion of the whole sound at once would. Input arrives in
// blocks; an output frame is produced once both of its input frames are there,
// so only the last frame of the previous block (the carry) is kept when the
// next block is loaded.

#include "media/audio/sound_stream.hpp"

#include <algorithm>

namespace tarvel {

using audio_format::output_frames;

namespace {

// The first input frame output frame i reads.
u64 input_frame_of(u64 i, u32 rate) {
    return static_cast<u64>(static_cast<unsigned __int128>(i) * rate / kOutputRate);
}

}  // namespace

Result<std::unique_ptr<SoundStream>> SoundStream::open(std::span<const u8> data, StreamCursor& c) {
    TARVEL_TRY_ASSIGN(const audio_format::Recognised what, audio_format::recognise(data));
    std::unique_ptr<SoundStream> s(new SoundStream(what));
    if (c.block == kEnhancedBlock) {
        TARVEL_TRY_ASSIGN(s->enhanced_, EnhancedStream::open(what, c));
        return s;
    }
    const bool fresh = c.channels == 0;
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
        c.channels = 1;
        c.rate = kMidiSampleRate;
        c.copy_frames = output_frames(renderer.sample_count(), kMidiSampleRate);
        s->midi_.emplace(std::move(renderer));
        break;
    }
    case SoundKind::Mp3:
        if (fresh) {
            // The first chunk that holds samples fixes the format; a stream
            // without any fails here, before it is queued.
            for (;;) {
                TARVEL_TRY(s->load(c));
                if (s->block_frames_ > 0) break;
                if (s->last_) return Error("MP3 stream decoded to no samples");
                ++c.block;
                c.block_start = 0;
                c.feed_from = s->next_chunk_.feed_from;
                c.first_frame = s->next_chunk_.first_frame;
                c.preroll = s->next_chunk_.preroll;
            }
        }
        break;
    }
    if (c.channels == 0 || c.rate == 0) return Error("audio stream has no format");
    // A cursor from a saved state must point into the block it names. The
    // next output frame may lie one output step past the block's end: the
    // cursor moves on to the following block only when that frame is
    // produced, and above 44 100 Hz a step skips rate / 44100 input frames
    // (so at the highest rates a copy that has just ended is still valid).
    if (!fresh) {
        const u64 u = input_frame_of(c.out_frame, c.rate);
        const u64 step = c.rate / kOutputRate + 1;
        if (u + 1 < c.block_start || u > c.block_start + kMaxBlockFrames + step)
            return Error("saved audio position does not match its sound");
    }
    return s;
}

Status SoundStream::load(StreamCursor& c) {
    loaded_ = false;
    switch (what_.kind) {
    case SoundKind::Wav: {
        // The samples are read where they lie (see input()): a block only
        // marks how far the cursor has come.
        const u64 total = wav_.values / wav_.channels;
        const u64 start = std::min(c.block_start, total);
        block_frames_ = std::min(kWavBlockFrames, total - start);
        last_ = start + block_frames_ >= total;
        break;
    }
    case SoundKind::Midi: {
        const u64 total = midi_->sample_count();
        const u64 start = std::min(c.block_start, total);
        block_frames_ = std::min(kMidiBlockSamples, total - start);
        last_ = start + block_frames_ >= total;
        block_.resize(static_cast<size_t>(block_frames_));
        midi_->seek(static_cast<size_t>(start));
        midi_->render(block_);
        break;
    }
    case SoundKind::Mp3: {
        TARVEL_TRY_ASSIGN(const audio_format::Mp3Chunk chunk,
                          audio_format::decode_mp3_chunk(what_.payload, {c.feed_from, c.first_frame, c.preroll}, block_));
        if (chunk.channels == 0) {
            block_.clear();  // nothing readable in this chunk
        } else if (c.channels == 0) {
            c.channels = chunk.channels;
            c.rate = chunk.rate;
        } else if (chunk.channels != c.channels || chunk.rate != c.rate) {
            return Error("MP3 stream changed audio format while decoding");
        }
        block_frames_ = c.channels == 0 ? 0 : block_.size() / c.channels;
        last_ = chunk.last;
        next_chunk_ = chunk.next;
        if (last_) c.copy_frames = output_frames(c.block_start + block_frames_, c.rate);
        break;
    }
    }
    loaded_ = true;
    return {};
}

float SoundStream::input(const StreamCursor& c, u64 frame, u32 channel) const {
    const u32 ch = std::min(channel, c.channels - 1);
    if (what_.kind == SoundKind::Wav && block_frames_ > 0) {
        // Straight from the data: converting a whole block for the one or two
        // frames a high-rate sound reads from it would cost a block per
        // output frame. Frames before the block are the carry's frame.
        const u64 local = std::min(frame, c.block_start + block_frames_ - 1);
        float value = 0.0f;
        audio_format::read_wav_values(what_.payload, wav_, local * c.channels + ch, std::span<float>(&value, 1));
        return value;
    }
    if (frame < c.block_start || block_frames_ == 0) return c.carry[std::min<u32>(ch, 1)];
    const u64 local = std::min(frame - c.block_start, block_frames_ - 1);
    return block_[static_cast<size_t>(local * c.channels + ch)];
}

void SoundStream::restart_copy(StreamCursor& c) const {
    c.out_frame = 0;
    c.block = 0;
    c.block_start = 0;
    c.feed_from = 0;
    c.first_frame = 0;
    c.preroll = 0;
    c.carry = {};
}

SoundStream::Step SoundStream::convert(StreamCursor& c, std::span<i16> out) {
    if (enhanced_) return enhanced_->convert(c, out);
    Step step;
    const size_t room = out.size() & ~size_t{1};
    while (step.values < room) {
        if (!loaded_) {
            if (Status s = load(c); !s) {
                step.finished = true;
                step.error = std::move(s).error();
                return step;
            }
        }
        const u64 end = c.block_start + block_frames_;
        const u64 limit = last_ ? output_frames(end, c.rate) : ~u64{0};
        while (step.values < room && c.out_frame < limit) {
            const unsigned __int128 p = static_cast<unsigned __int128>(c.out_frame) * c.rate;
            const u64 u = static_cast<u64>(p / kOutputRate);
            if (!last_ && u + 1 >= end) break;  // needs the next block
            const u64 a = std::min(u, end == 0 ? 0 : end - 1);
            const u64 b = std::min(u + 1, end == 0 ? 0 : end - 1);
            const float frac = static_cast<float>(static_cast<u32>(p % kOutputRate)) / static_cast<float>(kOutputRate);
            const float la = input(c, a, 0);
            const float left = la + (input(c, b, 0) - la) * frac;
            float right = left;
            if (c.channels > 1) {
                const float ra = input(c, a, 1);
                right = ra + (input(c, b, 1) - ra) * frac;
            }
            const i16 l = audio_format::sample_to_i16(left);
            const i16 r = audio_format::sample_to_i16(right);
            out[step.values] = l;
            out[step.values + 1] = r;
            if (c.first_copy) step.nonzero += (l != 0) + (r != 0);
            step.values += 2;
            ++c.out_frame;
        }
        if (step.values >= room) break;
        if (last_ && c.out_frame >= limit) {
            // This copy has ended. One without samples (a damaged state can
            // hold such a sound) ends all of them, however many are left.
            if (limit == 0) {
                step.finished = true;
                step.error = Error("audio data decoded to no samples");
                return step;
            }
            if (c.copies_left == 0) {
                step.finished = true;
                return step;
            }
            --c.copies_left;
            c.first_copy = false;
            restart_copy(c);
            loaded_ = false;
            continue;
        }
        // The next block: keep this block's last frame for the first outputs after it.
        if (block_frames_ > 0) {
            c.carry[0] = input(c, end - 1, 0);
            c.carry[1] = input(c, end - 1, c.channels > 1 ? 1 : 0);
        }
        ++c.block;
        c.block_start = end;
        if (what_.kind == SoundKind::Mp3) {
            c.feed_from = next_chunk_.feed_from;
            c.first_frame = next_chunk_.first_frame;
            c.preroll = next_chunk_.preroll;
        }
        loaded_ = false;
    }
    return step;
}

}  // namespace tarvel
