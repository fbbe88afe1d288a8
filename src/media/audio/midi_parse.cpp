// Standard MIDI File reading: header, track chunks and the events of each track
// that matter to the synthesiser (notes and tempo). Everything else is skipped
// by its length. Reads never go past the payload; a track whose last event is
// cut short simply ends there.

#include <algorithm>
#include <cstring>
#include <limits>

#include "media/audio/midi.hpp"

namespace tarvel {
namespace {

constexpr size_t kHeaderSize = 14;
constexpr size_t kChunkHeaderSize = 8;
constexpr u32 kDefaultTempo = 500000;

u64 saturating_add(u64 a, u64 b) {
    const u64 sum = a + b;
    return sum < a ? std::numeric_limits<u64>::max() : sum;
}

// The events of one track chunk, read into the song's (still unsorted) lists.
class TrackReader {
public:
    TrackReader(std::span<const u8> track, MidiSong& song) : track_(track), song_(song) {}

    Status read_all() {
        u64 tick = 0;
        u8 running_status = 0;
        for (;;) {
            TARVEL_TRY_ASSIGN(const u32 delta, read_quantity());
            tick = saturating_add(tick, delta);
            if (left() == 0) return {};

            u8 status = running_status;
            if (track_[pos_] >= 0x80) {
                status = track_[pos_++];
                running_status = status;
            }

            bool track_continues = true;
            switch (status >> 4) {
            case 0x8: case 0x9: case 0xA: case 0xB: case 0xE:
                track_continues = channel_event_with_two_bytes(status, tick);
                break;
            case 0xC: case 0xD:
                track_continues = skip(1);
                break;
            case 0xF: {
                auto result = system_event(status, tick);
                if (!result.ok()) return std::move(result).error();
                track_continues = *result;
                break;
            }
            default:  // a data byte with no running status to give it meaning
                track_continues = false;
                break;
            }
            if (!track_continues) return {};
        }
    }

private:
    size_t left() const { return track_.size() - pos_; }

    bool skip(size_t n) {
        if (left() < n) return false;
        pos_ += n;
        return true;
    }

    // A variable-length quantity of at most four bytes. An empty rest of the
    // track reads as 0 (the caller then sees the track's end); a quantity cut
    // off with its continuation bit set, or a fifth byte, is malformed.
    Result<u32> read_quantity() {
        u32 value = 0;
        for (int n = 0; n < 4; ++n) {
            if (left() == 0) {
                if (n == 0) return value;
                break;
            }
            const u8 byte = track_[pos_++];
            value = (value << 7) | (byte & 0x7F);
            if ((byte & 0x80) == 0) return value;
        }
        return Error("invalid MIDI variable-length quantity");
    }

    bool channel_event_with_two_bytes(u8 status, u64 tick) {
        if (left() < 2) return false;
        const u8 note = track_[pos_];
        const u8 velocity = track_[pos_ + 1];
        pos_ += 2;
        const u8 kind = status >> 4;
        if (kind == 0x9 && velocity >= 1 && velocity <= 127) {
            song_.notes.push_back({tick, note, velocity, true});
        } else if ((kind == 0x9 && velocity == 0) || kind == 0x8) {
            song_.notes.push_back({tick, note, velocity, false});
        }
        return true;
    }

    // Meta events (0xFF: type, length, data) and the other system events
    // (length, data). Only the tempo meta event is kept.
    Result<bool> system_event(u8 status, u64 tick) {
        u8 meta_type = 0;
        if (status == 0xFF) {
            if (left() == 0) return false;
            meta_type = track_[pos_++];
        }
        TARVEL_TRY_ASSIGN(const u32 length, read_quantity());
        if (length > left()) return false;
        const u8* data = track_.data() + pos_;
        if (status == 0xFF && meta_type == 0x51 && length >= 3) {
            const u32 tempo = (u32{data[0]} << 16) | (u32{data[1]} << 8) | data[2];
            song_.tempos.push_back({tick, tempo});
        }
        pos_ += length;
        return true;
    }

    std::span<const u8> track_;
    MidiSong& song_;
    size_t pos_ = 0;
};

}  // namespace

Result<MidiSong> parse_midi(std::span<const u8> payload) {
    if (payload.size() < kHeaderSize || std::memcmp(payload.data(), "MThd", 4) != 0)
        return Error("not a MIDI file");
    const u16 track_count = load_be16(payload.data() + 10);
    const auto division = static_cast<i16>(load_be16(payload.data() + 12));
    if (division <= 0) return Error::format("unsupported MIDI division {}", division);

    MidiSong song;
    song.division = static_cast<u32>(division);
    // The header's own length field is not trusted: the tracks follow the
    // fixed 14-byte header.
    size_t pos = kHeaderSize;
    for (u32 index = 0; index < track_count; ++index) {
        if (payload.size() - pos < kChunkHeaderSize) return Error("truncated MIDI track header");
        if (std::memcmp(payload.data() + pos, "MTrk", 4) != 0) return Error("expected MTrk chunk");
        const u64 data_start = pos + kChunkHeaderSize;
        const u64 data_end = saturating_add(data_start, load_be32(payload.data() + pos + 4));
        if (data_end > payload.size()) return Error("truncated MIDI track");
        const auto track = payload.subspan(static_cast<size_t>(data_start),
                                           static_cast<size_t>(data_end - data_start));
        TARVEL_TRY(TrackReader(track, song).read_all());
        pos = static_cast<size_t>(data_end);
    }

    if (song.notes.empty()) return Error("MIDI file has no note events");
    std::stable_sort(song.notes.begin(), song.notes.end(),
                     [](const MidiNoteEvent& a, const MidiNoteEvent& b) { return a.tick < b.tick; });
    std::stable_sort(song.tempos.begin(), song.tempos.end(),
                     [](const MidiTempoChange& a, const MidiTempoChange& b) { return a.tick < b.tick; });
    if (song.tempos.empty()) song.tempos.push_back({0, kDefaultTempo});
    return song;
}

}  // namespace tarvel
