#include "headless_frontend.hpp"

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

HeadlessFrontend::HeadlessFrontend(std::map<std::string, std::string> options,
                                   std::optional<std::string> system_directory)
    : options_(std::move(options)), system_directory_(std::move(system_directory)) {
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
    for (const auto& [key, value] : options_)
        if (!option_defaults_.count(key)) unknown.push_back(key);
    return unknown;
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
            if (auto it = options_.find(v->key); it != options_.end()) {
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
            if (!system_directory_) return false;
            *static_cast<const char**>(data) = system_directory_->c_str();
            return true;
        case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS:
        case RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL:
        case RETRO_ENVIRONMENT_SET_MEMORY_MAPS:
        case RETRO_ENVIRONMENT_SET_GEOMETRY:
            return true;
        default:
            return false;
    }
}

void HeadlessFrontend::log(retro_log_level level, const char* format, ...) {
    if (format == nullptr) return;
    std::printf("[core] %s: ", level_name(level));
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::size_t length = std::strlen(format);
    if (length == 0 || format[length - 1] != '\n') std::putchar('\n');
    std::fflush(stdout);
}

void HeadlessFrontend::video_refresh(const void* data, unsigned width, unsigned height, size_t pitch) {
    if (g_frontend == nullptr) return;
    ++g_frontend->video_frames_;
    if (data == nullptr) return;  // the core repeated its previous frame
    PresentedFrame& frame = g_frontend->last_frame_;
    frame.width = width;
    frame.height = height;
    frame.pixels.resize(size_t{width} * height);
    for (unsigned row = 0; row < height; ++row)
        std::memcpy(frame.pixels.data() + size_t{row} * width, static_cast<const char*>(data) + row * pitch,
                    size_t{width} * 4);
}

size_t HeadlessFrontend::audio_sample_batch(const int16_t*, size_t frames) {
    if (g_frontend != nullptr) g_frontend->audio_frames_ += static_cast<long>(frames);
    return frames;
}

}  // namespace tarvel_run
