#include "input_script.hpp"

#include <libretro.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

namespace tarvel_run {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<long> parse_number(std::string_view text) {
    long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Frames are counted from 1; a hold lasts at least one frame.
std::optional<std::string> read_frame(std::string_view word, long& frame) {
    auto value = parse_number(word);
    if (!value || *value < 1) return "a frame number is 1 or more, not \"" + std::string(word) + "\"";
    frame = *value;
    return std::nullopt;
}

std::optional<std::string> read_duration(std::string_view word, long& frames) {
    auto value = parse_number(word);
    if (!value || *value < 1) return "a number of frames is 1 or more, not \"" + std::string(word) + "\"";
    frames = *value;
    return std::nullopt;
}

// Screen coordinates are checked against the presented frame when they are
// used (its size depends on the orientation); here they only need to be
// numbers of a sensible size.
std::optional<std::string> read_coordinate(std::string_view word, int& coordinate) {
    auto value = parse_number(word);
    if (!value || *value < 0 || *value > 0xFFFF)
        return "a screen coordinate is a pixel number, not \"" + std::string(word) + "\"";
    coordinate = static_cast<int>(*value);
    return std::nullopt;
}

bool active(long start, long frames, long frame) { return frame >= start && frame - start < frames; }

constexpr std::array<std::pair<std::string_view, unsigned>, 16> kButtons = {{
    {"b", RETRO_DEVICE_ID_JOYPAD_B},
    {"y", RETRO_DEVICE_ID_JOYPAD_Y},
    {"select", RETRO_DEVICE_ID_JOYPAD_SELECT},
    {"start", RETRO_DEVICE_ID_JOYPAD_START},
    {"up", RETRO_DEVICE_ID_JOYPAD_UP},
    {"down", RETRO_DEVICE_ID_JOYPAD_DOWN},
    {"left", RETRO_DEVICE_ID_JOYPAD_LEFT},
    {"right", RETRO_DEVICE_ID_JOYPAD_RIGHT},
    {"a", RETRO_DEVICE_ID_JOYPAD_A},
    {"x", RETRO_DEVICE_ID_JOYPAD_X},
    {"l", RETRO_DEVICE_ID_JOYPAD_L},
    {"r", RETRO_DEVICE_ID_JOYPAD_R},
    {"l2", RETRO_DEVICE_ID_JOYPAD_L2},
    {"r2", RETRO_DEVICE_ID_JOYPAD_R2},
    {"l3", RETRO_DEVICE_ID_JOYPAD_L3},
    {"r3", RETRO_DEVICE_ID_JOYPAD_R3},
}};

constexpr std::array<std::pair<std::string_view, unsigned>, 10> kNamedKeys = {{
    {"return", RETROK_RETURN},
    {"enter", RETROK_RETURN},
    {"space", RETROK_SPACE},
    {"escape", RETROK_ESCAPE},
    {"backspace", RETROK_BACKSPACE},
    {"tab", RETROK_TAB},
    {"up", RETROK_UP},
    {"down", RETROK_DOWN},
    {"left", RETROK_LEFT},
    {"right", RETROK_RIGHT},
}};

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

long InputScript::last_input_frame() const {
    long last = 0;
    for (const auto& b : buttons) last = std::max(last, b.frame + b.frames - 1);
    for (const auto& k : keys) last = std::max(last, k.frame + k.frames - 1);
    for (const auto& t : touches) last = std::max(last, t.frame + t.frames - 1);
    return last;
}

std::optional<unsigned> joypad_button_id(std::string_view name) {
    const std::string key = lower(name);
    for (const auto& [button, id] : kButtons)
        if (button == key) return id;
    return std::nullopt;
}

std::optional<unsigned> keyboard_key_code(std::string_view name) {
    if (name.size() == 1) {
        unsigned char c = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(name[0])));
        if (std::isalnum(c)) return c;  // RETROK_0..9 and RETROK_a..z are the ASCII codes
        return std::nullopt;
    }
    const std::string key = lower(name);
    for (const auto& [named, code] : kNamedKeys)
        if (named == key) return code;
    return std::nullopt;
}

std::optional<std::string> add_script_event(InputScript& script, const std::vector<std::string>& words) {
    if (words.empty()) return std::string("an empty event");
    const std::string& kind = words[0];
    auto count_error = [&](const char* form) { return "\"" + kind + "\" takes " + form; };

    if (kind == "press" || kind == "key") {
        if (words.size() != 3 && words.size() != 4) return count_error("FRAME NAME [FRAMES]");
        long frame = 0, frames = 6;
        if (auto e = read_frame(words[1], frame)) return e;
        if (words.size() == 4)
            if (auto e = read_duration(words[3], frames)) return e;
        if (kind == "press") {
            auto id = joypad_button_id(words[2]);
            if (!id)
                return "no joypad button \"" + words[2] +
                       "\" (b y select start up down left right a x l r l2 r2 l3 r3)";
            script.buttons.push_back({frame, frames, *id});
        } else {
            auto code = keyboard_key_code(words[2]);
            if (!code)
                return "no keyboard key \"" + words[2] +
                       "\" (a letter, a digit, return space escape backspace tab up down left right)";
            script.keys.push_back({frame, frames, *code});
        }
        return std::nullopt;
    }
    if (kind == "touch") {
        if (words.size() != 4 && words.size() != 5) return count_error("FRAME X Y [FRAMES]");
        Touch touch;
        if (auto e = read_frame(words[1], touch.frame)) return e;
        if (auto e = read_coordinate(words[2], touch.x0)) return e;
        if (auto e = read_coordinate(words[3], touch.y0)) return e;
        if (words.size() == 5)
            if (auto e = read_duration(words[4], touch.frames)) return e;
        touch.x1 = touch.x0;
        touch.y1 = touch.y0;
        script.touches.push_back(touch);
        return std::nullopt;
    }
    if (kind == "drag") {
        if (words.size() != 7) return count_error("FRAME X0 Y0 X1 Y1 FRAMES");
        Touch touch;
        if (auto e = read_frame(words[1], touch.frame)) return e;
        if (auto e = read_coordinate(words[2], touch.x0)) return e;
        if (auto e = read_coordinate(words[3], touch.y0)) return e;
        if (auto e = read_coordinate(words[4], touch.x1)) return e;
        if (auto e = read_coordinate(words[5], touch.y1)) return e;
        if (auto e = read_duration(words[6], touch.frames)) return e;
        script.touches.push_back(touch);
        return std::nullopt;
    }
    if (kind == "screenshot") {
        if (words.size() != 3 || words[2].empty()) return count_error("FRAME|end PATH");
        Screenshot shot;
        if (words[1] != "end")
            if (auto e = read_frame(words[1], shot.frame)) return e;
        shot.path = words[2];
        script.screenshots.push_back(shot);
        return std::nullopt;
    }
    return "unknown event \"" + kind + "\" (press, key, touch, drag, screenshot)";
}

std::optional<std::string> add_option_event(InputScript& script, std::string_view kind, std::string_view value) {
    std::vector<std::string> words{std::string(kind)};
    if (kind == "screenshot") {
        // The path may itself contain ':', so only the first one separates.
        auto colon = value.find(':');
        if (colon == std::string_view::npos) return std::string("--screenshot needs FRAME:PATH or end:PATH");
        words.emplace_back(value.substr(0, colon));
        words.emplace_back(value.substr(colon + 1));
    } else {
        for (auto& part : split(value, ':')) words.push_back(std::move(part));
    }
    if (auto error = add_script_event(script, words)) return "--" + std::string(kind) + " " + std::string(value) + ": " + *error;
    return std::nullopt;
}

std::optional<std::string> add_script_text(InputScript& script, std::string_view text, std::string_view source_name) {
    long line_number = 0;
    for (const std::string& line : split(text, '\n')) {
        ++line_number;
        std::string_view content = line;
        if (auto hash = content.find('#'); hash != std::string_view::npos) content = content.substr(0, hash);
        std::vector<std::string> words;
        size_t i = 0;
        while (i < content.size()) {
            while (i < content.size() && std::isspace(static_cast<unsigned char>(content[i]))) ++i;
            size_t start = i;
            while (i < content.size() && !std::isspace(static_cast<unsigned char>(content[i]))) ++i;
            if (i > start) words.emplace_back(content.substr(start, i - start));
        }
        if (words.empty()) continue;
        if (auto error = add_script_event(script, words))
            return std::string(source_name) + ":" + std::to_string(line_number) + ": " + *error;
    }
    return std::nullopt;
}

FrameInput input_at(const InputScript& script, long frame) {
    FrameInput input;
    for (const auto& b : script.buttons)
        if (active(b.frame, b.frames, frame)) input.joypad = static_cast<uint16_t>(input.joypad | (1u << b.id));
    for (const auto& k : script.keys)
        if (active(k.frame, k.frames, frame)) input.keys.push_back(k.keycode);
    // Overlapping touches: the one that started last wins, as a finger put
    // down later takes over.
    const Touch* latest = nullptr;
    for (const auto& t : script.touches)
        if (active(t.frame, t.frames, frame) && (latest == nullptr || t.frame >= latest->frame)) latest = &t;
    if (latest != nullptr) {
        input.touching = true;
        long step = frame - latest->frame;
        long span = latest->frames > 1 ? latest->frames - 1 : 1;
        input.x = static_cast<int>(latest->x0 + (latest->x1 - latest->x0) * step / span);
        input.y = static_cast<int>(latest->y0 + (latest->y1 - latest->y0) * step / span);
    }
    return input;
}

int16_t pointer_coordinate(int pixel, unsigned size) {
    if (size == 0) return 0;
    long p = std::clamp<long>(pixel, 0, static_cast<long>(size) - 1);
    // Offsets v = value + 0x7FFF in 0..0xFFFE with (v * size + 0x7FFF) / 0xFFFF == p.
    long low = p * 0xFFFF - 0x7FFF;
    low = low <= 0 ? 0 : (low + static_cast<long>(size) - 1) / static_cast<long>(size);
    long high = ((p + 1) * 0xFFFF - 1 - 0x7FFF) / static_cast<long>(size);
    high = std::min<long>(high, 0xFFFE);
    return static_cast<int16_t>((low + high) / 2 - 0x7FFF);
}

}  // namespace tarvel_run
