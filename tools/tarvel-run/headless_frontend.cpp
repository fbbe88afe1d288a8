#include "headless_frontend.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace tarvel_run {
namespace {

// The libretro callbacks carry no user pointer, so the one frontend of the
// process is found here.
HeadlessFrontend* g_frontend = nullptr;

const char* level_name(retro_log_level level) {
    switch (level) {
        case RETRO_LOG_DEBUG: return "DEBUG";
        case RETRO_LOG_INFO: return "INFO";
        case RETRO_LOG_WARN: return "WARN";
        default: return "ERROR";
    }
}

// "Label; first|second|..." -> "first"
std::string first_value(std::string_view definition) {
    auto semicolon = definition.find(';');
    if (semicolon == std::string_view::npos) return {};
    std::string_view values = definition.substr(semicolon + 1);
    while (!values.empty() && values.front() == ' ') values.remove_prefix(1);
    return std::string(values.substr(0, values.find('|')));
}

}  // namespace

std::optional<RunTotals> parse_run_totals(const std::string& line) {
    RunTotals totals;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "Machine ran %" SCNu64 " ticks and %" SCNu64 " guest instructions%n", &totals.ticks,
                    &totals.instructions, &consumed) == 2 &&
        static_cast<size_t>(consumed) == line.size())
        return totals;
    return std::nullopt;
}

HeadlessFrontend::HeadlessFrontend(FrontendSettings settings, const InputScript* script, WavWriter* wav)
    : settings_(std::move(settings)), script_(script), wav_(wav) {
    g_frontend = this;
}

HeadlessFrontend::~HeadlessFrontend() {
    if (g_frontend == this) g_frontend = nullptr;
}

void HeadlessFrontend::attach(const CoreApi& core) {
    core.set_environment(&environment);
    core.set_video_refresh(&video_refresh);
    core.set_audio_sample(&audio_sample);
    core.set_audio_sample_batch(&audio_sample_batch);
    core.set_input_poll(&input_poll);
    core.set_input_state(&input_state);
}

std::vector<std::string> HeadlessFrontend::unknown_option_keys() const {
    std::vector<std::string> unknown;
    for (const auto& [key, value] : settings_.options)
        if (!option_defaults_.count(key)) unknown.push_back(key);
    return unknown;
}

void HeadlessFrontend::set_geometry(unsigned width, unsigned height) {
    if (width == 0 || height == 0) return;
    width_ = width;
    height_ = height;
}

void HeadlessFrontend::begin_frame(long frame) {
    input_ = script_ != nullptr ? input_at(*script_, frame) : FrameInput{};
    if (!input_.touching) return;
    int16_t x = pointer_coordinate(std::min(input_.x, static_cast<int>(width_) - 1), width_);
    int16_t y = pointer_coordinate(std::min(input_.y, static_cast<int>(height_) - 1), height_);
    // All three pointer values zero reads as "no pointer news" to the core,
    // which would swallow the release that follows; one step off the centre
    // still names the same pixel.
    if (x == 0 && y == 0) x = 1;
    last_pointer_x_ = x;
    last_pointer_y_ = y;
    touched_before_ = true;
}

bool HeadlessFrontend::environment(unsigned command, void* data) {
    return g_frontend != nullptr && data != nullptr && g_frontend->answer(command, data);
}

bool HeadlessFrontend::answer(unsigned command, void* data) {
    switch (command) {
        case RETRO_ENVIRONMENT_GET_LOG_INTERFACE:
            static_cast<retro_log_callback*>(data)->log = &log;
            return true;
        case RETRO_ENVIRONMENT_SET_VARIABLES:
            for (auto* v = static_cast<const retro_variable*>(data); v->key != nullptr; ++v) {
                announced_keys_.push_back(v->key);
                option_defaults_[v->key] = first_value(v->value ? v->value : "");
            }
            return true;
        case RETRO_ENVIRONMENT_GET_VARIABLE: {
            auto* v = static_cast<retro_variable*>(data);
            if (v->key == nullptr) return false;
            if (auto it = settings_.options.find(v->key); it != settings_.options.end()) {
                v->value = it->second.c_str();
                return true;
            }
            if (auto it = option_defaults_.find(v->key); it != option_defaults_.end()) {
                v->value = it->second.c_str();
                return true;
            }
            return false;
        }
        case RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE:
            // Options are fixed for the whole run.
            *static_cast<bool*>(data) = false;
            return true;
        case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT: {
            unsigned format = *static_cast<const unsigned*>(data);
            if (format != RETRO_PIXEL_FORMAT_XRGB8888) return false;
            pixel_format_ = format;
            return true;
        }
        case RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY:
            if (!settings_.system_directory) return false;
            *static_cast<const char**>(data) = settings_.system_directory->c_str();
            return true;
        case RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY:
            if (!settings_.save_directory) return false;
            *static_cast<const char**>(data) = settings_.save_directory->c_str();
            return true;
        case RETRO_ENVIRONMENT_SET_GEOMETRY: {
            const auto* geometry = static_cast<const retro_game_geometry*>(data);
            set_geometry(geometry->base_width, geometry->base_height);
            return true;
        }
        case RETRO_ENVIRONMENT_GET_INPUT_BITMASKS:
            return true;
        case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
        case RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL:
        case RETRO_ENVIRONMENT_SET_MEMORY_MAPS:
            return true;
        default:
            return false;
    }
}

void HeadlessFrontend::log(retro_log_level level, const char* format, ...) {
    if (format == nullptr) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    while (!text.empty() && text.back() == '\n') text.pop_back();

    if (g_frontend != nullptr && level == RETRO_LOG_DEBUG) {
        if (auto totals = parse_run_totals(text)) g_frontend->totals_ = totals;
        if (!g_frontend->settings_.show_debug_lines) return;
    }
    std::printf("[core] %s: %s\n", level_name(level), text.c_str());
    std::fflush(stdout);
}

void HeadlessFrontend::video_refresh(const void* data, unsigned width, unsigned height, size_t pitch) {
    if (g_frontend == nullptr) return;
    ++g_frontend->video_frames_;
    if (data == nullptr) return;  // the core repeated its previous frame
    if (g_frontend->pixel_format_ != RETRO_PIXEL_FORMAT_XRGB8888) return;
    Picture& frame = g_frontend->last_frame_;
    frame.width = width;
    frame.height = height;
    frame.pixels.resize(size_t{width} * height);
    for (unsigned row = 0; row < height; ++row) {
        const auto* source = reinterpret_cast<const uint32_t*>(static_cast<const char*>(data) + row * pitch);
        uint32_t* target = frame.pixels.data() + size_t{row} * width;
        // The top byte of XRGB8888 means nothing; pictures are opaque.
        for (unsigned x = 0; x < width; ++x) target[x] = source[x] | 0xFF000000u;
    }
}

size_t HeadlessFrontend::audio_sample_batch(const int16_t* data, size_t frames) {
    if (g_frontend == nullptr) return frames;
    g_frontend->audio_frames_ += static_cast<long>(frames);
    if (g_frontend->wav_ != nullptr) g_frontend->wav_->write(data, frames);
    return frames;
}

void HeadlessFrontend::input_poll() {
    if (g_frontend != nullptr) ++g_frontend->input_polls_;
}

int16_t HeadlessFrontend::input_state(unsigned port, unsigned device, unsigned index, unsigned id) {
    if (g_frontend == nullptr || port != 0) return 0;
    const FrameInput& input = g_frontend->input_;
    switch (device) {
        case RETRO_DEVICE_JOYPAD:
            if (id == RETRO_DEVICE_ID_JOYPAD_MASK) return static_cast<int16_t>(input.joypad);
            return id < 16 && (input.joypad >> id) & 1u ? 1 : 0;
        case RETRO_DEVICE_KEYBOARD:
            return std::find(input.keys.begin(), input.keys.end(), id) != input.keys.end() ? 1 : 0;
        case RETRO_DEVICE_POINTER:
            return index == 0 ? g_frontend->pointer_state(id) : 0;  // one finger
        default:
            return 0;
    }
}

// While touching: the contact's place and pressed. Afterwards the last place
// stays with pressed 0, as a touch screen reports a lifted finger.
int16_t HeadlessFrontend::pointer_state(unsigned id) const {
    if (!touched_before_) return 0;
    switch (id) {
        case RETRO_DEVICE_ID_POINTER_X: return last_pointer_x_;
        case RETRO_DEVICE_ID_POINTER_Y: return last_pointer_y_;
        case RETRO_DEVICE_ID_POINTER_PRESSED: return input_.touching ? 1 : 0;
        default: return 0;
    }
}

}  // namespace tarvel_run
