#include "support/test_frontend.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace tarvel::test {
namespace {

TestFrontend* g_active = nullptr;

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed <= 0) return {};
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    return text;
}

}  // namespace

const char* level_name(retro_log_level level) {
    switch (level) {
        case RETRO_LOG_DEBUG: return "DEBUG";
        case RETRO_LOG_INFO: return "INFO";
        case RETRO_LOG_WARN: return "WARN";
        case RETRO_LOG_ERROR: return "ERROR";
        default: return "?";
    }
}

TestFrontend::TestFrontend() : previous_(g_active) { g_active = this; }

TestFrontend::~TestFrontend() {
    // Leave the core as a fresh process would have it for the next test, with
    // no callback pointing at this frontend.
    retro_unload_game();
    retro_deinit();
    retro_set_environment(nullptr);
    retro_set_video_refresh(nullptr);
    retro_set_audio_sample_batch(nullptr);
    retro_set_input_poll(nullptr);
    retro_set_input_state(nullptr);
    // The core keeps its log destination after deinit; on_log drops lines
    // that arrive while no frontend is active.
    g_active = previous_;
}

void TestFrontend::set_variable(const std::string& key, std::optional<std::string> value) {
    variables_set_[key] = std::move(value);
}

void TestFrontend::set_pointer(int16_t x, int16_t y, bool pressed) {
    input_[{RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_X}] = x;
    input_[{RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_Y}] = y;
    input_[{RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_PRESSED}] = pressed ? 1 : 0;
}

void TestFrontend::start() {
    retro_set_environment(&on_environment);
    retro_set_video_refresh(&on_video);
    retro_set_audio_sample_batch(&on_audio_batch);
    retro_set_input_poll(&on_input_poll);
    retro_set_input_state(&on_input_state);
    retro_init();
}

void TestFrontend::start_without_callbacks() {
    retro_set_environment(&on_environment);
    retro_set_video_refresh(nullptr);
    retro_set_audio_sample_batch(nullptr);
    retro_set_input_poll(nullptr);
    retro_set_input_state(nullptr);
    retro_init();
}

bool TestFrontend::load(const std::string& path) {
    retro_game_info info{};
    info.path = path.c_str();
    return retro_load_game(&info);
}

void TestFrontend::run(int frames) {
    for (int i = 0; i < frames; ++i) retro_run();
}

std::vector<std::string> TestFrontend::log_texts(retro_log_level level) const {
    std::vector<std::string> out;
    for (const auto& line : log_)
        if (line.level == level) out.push_back(line.text);
    return out;
}

std::vector<std::string> TestFrontend::log_summary() const {
    std::vector<std::string> out;
    for (const auto& line : log_) out.push_back(std::string(level_name(line.level)) + " " + line.text);
    return out;
}

size_t TestFrontend::environment_call_count(unsigned command) const {
    size_t n = 0;
    for (unsigned c : environment_calls_) n += (c == command);
    return n;
}

bool TestFrontend::on_environment(unsigned command, void* data) {
    if (g_active == nullptr) {
        ADD_FAILURE() << "environment request " << command << " with no active test frontend";
        return false;
    }
    g_active->environment_calls_.push_back(command);
    if (g_active->refused_.count(command)) return false;
    return g_active->answer(command, data);
}

bool TestFrontend::answer(unsigned command, void* data) {
    switch (command) {
        case RETRO_ENVIRONMENT_GET_LOG_INTERFACE: {
            if (!log_interface_) return false;
            static_cast<retro_log_callback*>(data)->log = &on_log;
            return true;
        }
        case RETRO_ENVIRONMENT_SET_VARIABLES: {
            variables_.clear();
            for (auto* v = static_cast<const retro_variable*>(data); v->key != nullptr; ++v)
                variables_.emplace_back(v->key, v->value ? v->value : "");
            return true;
        }
        case RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION:
            if (!core_options_version_) return false;
            *static_cast<unsigned*>(data) = *core_options_version_;
            return true;
        case RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2: {
            auto text = [](const char* s) { return std::string(s ? s : ""); };
            const auto* options = static_cast<const retro_core_options_v2*>(data);
            option_categories_.clear();
            option_definitions_.clear();
            for (auto* c = options->categories; c && c->key; ++c)
                option_categories_.push_back({c->key, text(c->desc), text(c->info)});
            for (auto* d = options->definitions; d->key; ++d) {
                OptionDefinition definition{d->key, text(d->desc), text(d->info), text(d->category_key),
                                            text(d->default_value), {}};
                for (auto* v = d->values; v->value; ++v) definition.values.emplace_back(v->value, text(v->label));
                option_definitions_.push_back(std::move(definition));
            }
            return true;
        }
        case RETRO_ENVIRONMENT_SET_CONTROLLER_INFO: {
            port_devices_.clear();
            for (auto* port = static_cast<const retro_controller_info*>(data); port->types; ++port) {
                port_devices_.emplace_back();
                for (unsigned i = 0; i < port->num_types; ++i)
                    port_devices_.back().emplace_back(port->types[i].desc, port->types[i].id);
            }
            return true;
        }
        case RETRO_ENVIRONMENT_SET_KEYBOARD_CALLBACK:
            keyboard_callback_ = static_cast<const retro_keyboard_callback*>(data)->callback;
            return true;
        case RETRO_ENVIRONMENT_GET_MESSAGE_INTERFACE_VERSION:
            if (!message_version_) return false;
            *static_cast<unsigned*>(data) = *message_version_;
            return true;
        case RETRO_ENVIRONMENT_SET_MESSAGE: {
            const auto* m = static_cast<const retro_message*>(data);
            messages_.push_back({m->msg, false, RETRO_LOG_INFO, RETRO_MESSAGE_TARGET_ALL, m->frames});
            return true;
        }
        case RETRO_ENVIRONMENT_SET_MESSAGE_EXT: {
            const auto* m = static_cast<const retro_message_ext*>(data);
            messages_.push_back({m->msg, true, m->level, static_cast<unsigned>(m->target), m->duration});
            return true;
        }
        case RETRO_ENVIRONMENT_GET_VARIABLE: {
            auto* v = static_cast<retro_variable*>(data);
            auto it = variables_set_.find(v->key ? v->key : "");
            if (it == variables_set_.end()) return false;
            v->value = it->second ? it->second->c_str() : nullptr;
            return true;
        }
        case RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE: {
            *static_cast<bool*>(data) = variables_updated_;
            variables_updated_ = false;
            return true;
        }
        case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT:
            pixel_format_ = *static_cast<const unsigned*>(data);
            return true;
        case RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS: {
            input_descriptors_.clear();
            for (auto* d = static_cast<const retro_input_descriptor*>(data); d->description != nullptr; ++d)
                input_descriptors_.push_back({d->port, d->device, d->index, d->id, d->description});
            return true;
        }
        case RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL:
            performance_level_ = *static_cast<const unsigned*>(data);
            return true;
        case RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY:
            *static_cast<const char**>(data) = system_directory_ ? system_directory_->c_str() : nullptr;
            return true;
        case RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY:
            if (!save_directory_) return false;
            *static_cast<const char**>(data) = save_directory_->c_str();
            return true;
        case RETRO_ENVIRONMENT_SET_MEMORY_MAPS: {
            auto* map = static_cast<const retro_memory_map*>(data);
            memory_map_.assign(map->descriptors, map->descriptors + map->num_descriptors);
            return true;
        }
        case RETRO_ENVIRONMENT_SET_GEOMETRY:
            geometry_requests_.push_back(*static_cast<const retro_game_geometry*>(data));
            return true;
        default:
            return false;
    }
}

void TestFrontend::on_log(retro_log_level level, const char* format, ...) {
    if (g_active == nullptr) return;
    va_list args;
    va_start(args, format);
    std::string text = format ? vformat(format, args) : std::string();
    va_end(args);
    // Frontends print core lines as they come: each must end its own line,
    // once. The kept text is the line without it.
    if (text.empty() || text.back() != '\n' || (text.size() > 1 && text[text.size() - 2] == '\n'))
        ADD_FAILURE() << "a log line must end with exactly one line end: '" << text << "'";
    else
        text.pop_back();
    g_active->log_.push_back({level, format ? format : "", std::move(text)});
}

void TestFrontend::on_video(const void* data, unsigned width, unsigned height, size_t pitch) {
    if (g_active == nullptr) return;
    VideoFrame frame{width, height, pitch, data == nullptr, {}};
    if (data != nullptr) {
        frame.pixels.resize(size_t{width} * height);
        for (unsigned row = 0; row < height; ++row)
            std::memcpy(frame.pixels.data() + size_t{row} * width, static_cast<const char*>(data) + row * pitch,
                        size_t{width} * 4);
    }
    g_active->video_frames_.push_back(std::move(frame));
}

size_t TestFrontend::on_audio_batch(const int16_t* data, size_t frames) {
    if (g_active == nullptr) return frames;
    g_active->audio_batches_.emplace_back(data, data + frames * 2);
    return frames;
}

void TestFrontend::on_input_poll() {
    if (g_active) ++g_active->input_polls_;
}

int16_t TestFrontend::on_input_state(unsigned port, unsigned device, unsigned index, unsigned id) {
    if (g_active == nullptr || port != 0) return 0;
    auto it = g_active->input_.find({device, index, id});
    return it == g_active->input_.end() ? 0 : it->second;
}

}  // namespace tarvel::test
