// The MIDI synthesiser: note events placed in time through the tempo map, then
// rendered sample by sample. Each note is one voice,
//   (sin φ + 0.35 sin 2φ) × attack × decay × release × amplitude × 0.18,
// with φ taken from the absolute time in double precision (so that pitch does
// not drift over two minutes) and the envelope factors in single precision.

#include "media/audio/midi.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvel {
namespace {

constexpr u32 kDefaultTempo = 500000;
constexpr double kNoteSeconds = 1.0;   // a held note still stops after this long
constexpr double kAttackSeconds = 0.005;
constexpr double kDecayRate = 3.0;     // per second
constexpr double kReleaseRate = 20.0;  // the last 50 ms before a voice's end fade out
constexpr double kHarmonicLevel = 0.35;
constexpr float kMasterLevel = 0.18f;
constexpr double kSameNoteHz = 0.5;    // a note-off releases voices this close in pitch

double span_seconds(u64 ticks, u32 tempo, u32 division) {
    return static_cast<double>(ticks) * tempo / division / 1000000.0;
}

// Converts ticks to seconds for ticks given in ascending order. The sum is
// built span by span in the same order as a walk from the start would, so the
// times are exactly those of midi_tick_seconds.
class TempoCursor {
public:
    explicit TempoCursor(const MidiSong& song) : song_(song) {}

    double seconds_at(u64 tick) {
        const auto& tempos = song_.tempos;
        while (next_ < tempos.size() && tempos[next_].tick < tick) {
            elapsed_ += span_seconds(tempos[next_].tick - span_start_, tempo_, song_.division);
            span_start_ = tempos[next_].tick;
            tempo_ = tempos[next_].micros_per_quarter;
            ++next_;
        }
        return elapsed_ + span_seconds(tick - span_start_, tempo_, song_.division);
    }

private:
    const MidiSong& song_;
    size_t next_ = 0;
    u64 span_start_ = 0;
    u32 tempo_ = kDefaultTempo;
    double elapsed_ = 0.0;
};

double note_frequency(u8 note) {
    return 440.0 * std::pow(2.0, (static_cast<double>(note) - 69.0) / 12.0);
}

struct Voice {
    double frequency;
    double angular_frequency;  // 2π × frequency, fixed for the voice
    double start;
    double end;
    float amplitude;

    bool held() const { return end == start + kNoteSeconds; }
};

struct TimedNote {
    double seconds;
    double frequency;
    float amplitude;
    bool on;
};

double sample_time(size_t i) { return static_cast<double>(i) / kMidiSampleRate; }

// The first sample whose time reaches `seconds` (the sample at which a note
// event at that time is applied).
size_t first_sample_at(double seconds) {
    if (!(seconds > 0.0)) return 0;
    const double guess = std::ceil(seconds * kMidiSampleRate);
    if (guess >= 1e15) return static_cast<size_t>(1e15);
    auto i = static_cast<size_t>(guess);
    while (i > 0 && seconds <= sample_time(i - 1)) --i;
    while (seconds > sample_time(i)) ++i;
    return i;
}

}  // namespace

// Voices are capped at kMidiMaxVoices sounding at once. Without a cap a
// hostile file of a million note-ons at one tick would make every sample sum a
// million sines. Real music stays far below the cap (a released note is dropped
// at once, a held one after a second). Past it the oldest sounding voice is
// stolen: it fades out over the same 50 ms as a voice reaching its end, since
// cutting it mid-wave would click. Fading voices still cost a sine each, so
// their number is bounded too; only a burst of more than kMidiFadingVoices
// steals within one fade (no music does that) cuts the oldest fading voice.
class MidiRenderer::Synthesiser {
public:
    explicit Synthesiser(std::vector<TimedNote> notes) : notes_(std::move(notes)) {
        voices_.reserve(kMidiMaxVoices + kMidiFadingVoices);
    }

    // Samples first .. first + out.size() - 1, continuing from the state the
    // previous call left (first is where it ended).
    void render(size_t first, std::span<float> out) {
        for (size_t k = 0; k < out.size(); ++k) {
            const double t = sample_time(first + k);
            while (next_ < notes_.size() && notes_[next_].seconds <= t) apply(notes_[next_++], t);
            prune(t);
            out[k] = std::clamp(mix(t), -1.0f, 1.0f);
        }
    }

    // Brings the voices from sample `from` to `to` as rendering would, without
    // mixing. Between two samples that apply events the per-sample pruning
    // only removes voices whose end has passed, and removing up to a later
    // time includes every earlier removal, so it is enough to prune just
    // before and after each sample that applies events.
    void advance(size_t from, size_t to) {
        if (to < from) {
            voices_.clear();
            next_ = 0;
            from = 0;
        }
        while (next_ < notes_.size()) {
            const size_t at = std::max(first_sample_at(notes_[next_].seconds), from);
            if (at >= to) break;
            if (at > 0) prune(sample_time(at - 1));
            const double t = sample_time(at);
            while (next_ < notes_.size() && notes_[next_].seconds <= t) apply(notes_[next_++], t);
            prune(t);
            from = at + 1;
        }
        if (to > 0) prune(sample_time(to - 1));
    }

private:
    static constexpr double kFadeSeconds = 1.0 / kReleaseRate;

    // Released by a note-off, stolen, or already in its final fade.
    static bool fading(const Voice& v, double t) { return !v.held() || v.end - t <= kFadeSeconds; }

    void prune(double t) {
        std::erase_if(voices_, [t](const Voice& v) { return v.end <= t; });
    }

    void apply(const TimedNote& note, double t) {
        if (note.on) {
            make_room(t);
            voices_.push_back({note.frequency, 2.0 * std::numbers::pi * note.frequency, t,
                               t + kNoteSeconds, note.amplitude});
            return;
        }
        for (Voice& v : voices_) {
            if (std::abs(v.frequency - note.frequency) < kSameNoteHz && v.held()) v.end = t;
        }
    }

    void make_room(double t) {
        size_t sounding = 0;
        Voice* oldest = nullptr;
        for (Voice& v : voices_) {
            if (fading(v, t)) continue;
            if (!oldest) oldest = &v;
            ++sounding;
        }
        if (sounding >= kMidiMaxVoices) oldest->end = t + kFadeSeconds;
        if (voices_.size() >= kMidiMaxVoices + kMidiFadingVoices) {
            const auto first_fading = std::find_if(voices_.begin(), voices_.end(),
                                                   [t](const Voice& v) { return fading(v, t); });
            voices_.erase(first_fading == voices_.end() ? voices_.begin() : first_fading);
        }
    }

    float mix(double t) const {
        float sum = 0.0f;
        for (const Voice& v : voices_) {
            const double age = t - v.start;
            const double phase = v.angular_frequency * t;
            const auto wave = static_cast<float>(std::sin(phase) + kHarmonicLevel * std::sin(2.0 * phase));
            const auto attack = static_cast<float>(std::min(age / kAttackSeconds, 1.0));
            const auto decay = static_cast<float>(std::exp(-kDecayRate * age));
            const auto release = static_cast<float>(std::clamp((v.end - t) * kReleaseRate, 0.0, 1.0));
            sum += wave * attack * decay * release * v.amplitude * kMasterLevel;
        }
        return sum;
    }

    std::vector<TimedNote> notes_;
    size_t next_ = 0;
    std::vector<Voice> voices_;
};

double midi_tick_seconds(const MidiSong& song, u64 tick) {
    return TempoCursor(song).seconds_at(tick);
}

size_t midi_sample_count(const MidiSong& song) {
    u64 last_tick = 0;
    for (const MidiNoteEvent& note : song.notes) last_tick = std::max(last_tick, note.tick);
    const u64 end_tick = last_tick + song.division < last_tick ? ~u64{0} : last_tick + song.division;
    const double seconds = std::clamp(midi_tick_seconds(song, end_tick), kMidiMinSeconds, kMidiMaxSeconds);
    return static_cast<size_t>(std::floor(seconds * kMidiSampleRate));
}

Result<MidiRenderer> MidiRenderer::open(std::span<const u8> payload) {
    TARVEL_TRY_ASSIGN(const MidiSong song, parse_midi(payload));

    std::vector<TimedNote> notes;
    notes.reserve(song.notes.size());
    TempoCursor cursor(song);
    for (const MidiNoteEvent& event : song.notes) {
        notes.push_back({cursor.seconds_at(event.tick), note_frequency(event.note),
                         static_cast<float>(event.velocity) / 127.0f, event.on});
    }
    return MidiRenderer(std::make_unique<Synthesiser>(std::move(notes)), midi_sample_count(song));
}

MidiRenderer::MidiRenderer(std::unique_ptr<Synthesiser> synth, size_t sample_count)
    : synth_(std::move(synth)), sample_count_(sample_count) {}
MidiRenderer::MidiRenderer(MidiRenderer&&) noexcept = default;
MidiRenderer& MidiRenderer::operator=(MidiRenderer&&) noexcept = default;
MidiRenderer::~MidiRenderer() = default;

void MidiRenderer::seek(size_t sample) {
    sample = std::min(sample, sample_count_);
    if (sample == position_) return;
    synth_->advance(position_, sample);
    position_ = sample;
}

void MidiRenderer::render(std::span<float> out) {
    const size_t n = std::min(out.size(), sample_count_ - position_);
    synth_->render(position_, out.first(n));
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), 0.0f);
    position_ += n;
}

Result<DecodedSound> render_midi(std::span<const u8> payload) {
    TARVEL_TRY_ASSIGN(MidiRenderer renderer, MidiRenderer::open(payload));
    DecodedSound sound;
    sound.channels = 1;
    sound.rate = kMidiSampleRate;
    sound.samples.resize(renderer.sample_count());
    renderer.render(sound.samples);
    return sound;
}

}  // namespace tarvel
