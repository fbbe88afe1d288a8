// Tunes and effects for application resources. The tune text and the effect
// text are read line by line with the same small rules as the pixel art; the
// noise of an effect comes from a fixed shift register, so the same text
// always makes the same bytes.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <optional>

#include "asset_writer.hpp"

namespace tarvel::assets {
namespace {


template <typename T>
std::optional<T> parse_value(std::string_view word) {
    T value{};
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return value;
}

// Calls `each(line_number, line)` for every line that is not blank or a comment.
template <typename Each>
Status for_each_line(std::string_view text, Each each) {
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = trim_blanks(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line.front() == '#') continue;
        if (Status s = each(number, line); !s) return s;
    }
    return {};
}

// "A4", "C#5", "Bb3" to a key number (C4 = 60).
std::optional<u8> key_of(std::string_view name) {
    static constexpr int kSemitone[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name.empty() || name[0] < 'A' || name[0] > 'G') return std::nullopt;
    int key = kSemitone[name[0] - 'A'];
    name.remove_prefix(1);
    if (!name.empty() && (name[0] == '#' || name[0] == 'b')) {
        key += name[0] == '#' ? 1 : -1;
        name.remove_prefix(1);
    }
    const std::optional<int> octave = parse_value<int>(name);
    if (!octave || *octave < -1 || *octave > 9) return std::nullopt;
    key += (*octave + 1) * 12;
    if (key < 0 || key > 127) return std::nullopt;
    return static_cast<u8>(key);
}

void put_be(std::vector<u8>& out, u32 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<u8>(value >> (8 * i)));
}

void put_quantity(std::vector<u8>& out, u32 value) {
    u8 groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<u8>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<u8>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

}  // namespace

Result<MidiTune> parse_tune(std::string_view text) {
    MidiTune tune;
    struct Part {
        u8 channel = 0;
        u8 velocity = 0;
        u32 tick = 0;
    };
    std::optional<Part> part;
    const u32 sixteenth = tune.division / 4;
    TARVEL_TRY(for_each_line(text, [&](size_t number, std::string_view line) -> Status {
        std::string_view rest = line;
        const std::string_view first = next_word(rest);
        if (first == "tempo") {
            const auto bpm = parse_value<u32>(next_word(rest));
            if (!bpm || *bpm < 20 || *bpm > 400) return Error::format("line {}: tempo wants 20 to 400", number);
            tune.micros_per_quarter = 60000000 / *bpm;
            return {};
        }
        if (first == "part") {
            const auto channel = parse_value<u32>(next_word(rest));
            const auto program = parse_value<u32>(next_word(rest));
            const auto velocity = parse_value<u32>(next_word(rest));
            if (!channel || !program || !velocity || *channel > 15 || *program > 127 || *velocity == 0 ||
                *velocity > 127 || !trim_blanks(rest).empty())
                return Error::format("line {}: part wants a channel, a program and a velocity", number);
            part = Part{static_cast<u8>(*channel), static_cast<u8>(*velocity), 0};
            tune.programs.emplace_back(part->channel, static_cast<u8>(*program));
            return {};
        }
        if (!part) return Error::format("line {}: notes before any part", number);
        for (rest = line; !trim_blanks(rest).empty();) {
            const std::string_view word = next_word(rest);
            if (word == "|") continue;
            const size_t slash = word.find('/');
            const auto length = slash == std::string_view::npos ? std::nullopt : parse_value<u32>(word.substr(slash + 1));
            if (!length || *length == 0 || *length > 64)
                return Error::format("line {}: '{}' is not a note or rest with a length", number, word);
            const std::string_view name = word.substr(0, slash);
            if (name != "-") {
                const std::optional<u8> key = key_of(name);
                if (!key) return Error::format("line {}: '{}' is not a note", number, name);
                tune.notes.push_back({part->tick, *length * sixteenth, part->channel, *key, part->velocity});
            }
            part->tick += *length * sixteenth;
        }
        return {};
    }));
    if (tune.notes.empty()) return Error("the tune has no notes");
    return tune;
}

std::vector<u8> write_midi_file(const MidiTune& tune) {
    struct Event {
        u32 tick;
        bool on;
        u8 channel, key, velocity;
    };
    std::vector<Event> events;
    for (const MidiNote& n : tune.notes) {
        events.push_back({n.tick, true, n.channel, n.key, n.velocity});
        events.push_back({n.tick + std::max<u32>(n.length, 1), false, n.channel, n.key, 0});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick != b.tick ? a.tick < b.tick : !a.on && b.on; });

    std::vector<u8> track = {0x00, 0xFF, 0x51, 0x03};
    put_be(track, tune.micros_per_quarter & 0xFFFFFF, 3);
    for (const auto& [channel, program] : tune.programs) {
        track.insert(track.end(), {0x00, static_cast<u8>(0xC0 | (channel & 0x0F)), static_cast<u8>(program & 0x7F)});
    }
    u32 now = 0;
    for (const Event& e : events) {
        put_quantity(track, e.tick - now);
        now = e.tick;
        track.push_back(static_cast<u8>((e.on ? 0x90 : 0x80) | (e.channel & 0x0F)));
        track.push_back(e.key & 0x7F);
        track.push_back(e.on ? (e.velocity & 0x7F) : 0x40);
    }
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});

    std::vector<u8> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    put_be(file, tune.division, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put_be(file, static_cast<u32>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

Result<std::vector<u8>> wrap_sound(u16 type, std::span<const u8> payload) {
    if (payload.size() > 0xFFFFFF) return Error::format("a packaged sound holds at most 16 MiB, not {} bytes", payload.size());
    std::vector<u8> out = {static_cast<u8>(type), static_cast<u8>(type >> 8)};
    put_be(out, static_cast<u32>(payload.size()), 3);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Result<std::vector<u8>> effect_wav_from_text(std::string_view text) {
    u32 rate = 22050;
    std::vector<i16> samples;
    u32 noise = 0xACE1u;  // 16-bit Galois shift register
    TARVEL_TRY(for_each_line(text, [&](size_t number, std::string_view line) -> Status {
        const std::string_view shape = next_word(line);
        if (shape == "rate") {
            const auto r = parse_value<u32>(next_word(line));
            if (!r || *r < 4000 || *r > 48000 || !samples.empty())
                return Error::format("line {}: rate wants 4000 to 48000, before any segment", number);
            rate = *r;
            return {};
        }
        if (shape != "square" && shape != "sine" && shape != "noise")
            return Error::format("line {}: unknown shape '{}'", number, shape);
        const auto from = parse_value<double>(next_word(line));
        const auto to = parse_value<double>(next_word(line));
        const auto ms = parse_value<u32>(next_word(line));
        const auto level = parse_value<double>(next_word(line));
        if (!from || !to || !ms || !level || *from < 0 || *to < 0 || *from > 20000 || *to > 20000 || *ms == 0 ||
            *ms > 5000 || *level < 0 || *level > 1)
            return Error::format("line {}: a segment wants start Hz, end Hz, milliseconds and a level 0..1", number);
        const size_t count = static_cast<size_t>(u64{*ms} * rate / 1000);
        const double attack = 0.002 * rate;
        double phase = 0.0;
        double held = 0.0;
        for (size_t i = 0; i < count; ++i) {
            const double along = static_cast<double>(i) / static_cast<double>(count);
            const double hz = *from + (*to - *from) * along;
            const double before = phase;
            phase += hz / rate;
            phase -= std::floor(phase);
            double wave = 0.0;
            if (shape == "square") wave = phase < 0.5 ? 1.0 : -1.0;
            else if (shape == "sine") wave = std::sin(2.0 * std::numbers::pi * phase);
            else {
                if (phase < before || i == 0) {  // a new value each period of the sweep
                    noise = (noise >> 1) ^ (-(noise & 1u) & 0xB400u);
                    held = static_cast<double>(noise & 0xFFFF) / 32768.0 - 1.0;
                }
                wave = held;
            }
            const double envelope = std::min(1.0, static_cast<double>(i) / attack) * (1.0 - along);
            samples.push_back(static_cast<i16>(std::lround(wave * envelope * *level * 32767.0)));
        }
        return {};
    }));
    if (samples.empty()) return Error("the effect has no segments");

    const u32 data_bytes = static_cast<u32>(samples.size() * 2);
    std::vector<u8> wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                           1,   0,   1,   0};  // PCM, mono
    const auto put_le = [&wav](u32 v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<u8>(v >> (8 * i)));
    };
    put_le(rate, 4);
    put_le(rate * 2, 4);
    put_le(2, 2);
    put_le(16, 2);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put_le(data_bytes, 4);
    for (i16 s : samples) put_le(static_cast<u16>(s), 2);
    store_le32(wav.data() + 4, static_cast<u32>(wav.size() - 8));
    return wav;
}

}  // namespace tarvel::assets
