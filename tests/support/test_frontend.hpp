#pragma once
// A libretro frontend for tests. It answers the core's environment requests
// from settings each test chooses, records what the core asked for and sent,
// and feeds input. The core is driven through its C entry points, which the
// test executables link statically.
//
// Callbacks are plain C function pointers, so one frontend is active at a time:
// the one most recently constructed and not yet destroyed.

#include <libretro.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

namespace tarvel::test {

struct LogLine {
    retro_log_level level;
    std::string format;  // what the core passed as the printf format
    std::string text;    // the line as a frontend would print it, without its line end
};

struct VideoFrame {
    unsigned width = 0;
    unsigned height = 0;
    size_t pitch = 0;
    bool duplicate = false;  // the core passed no data (frame repeated)
    std::vector<uint32_t> pixels;  // width x height, rows packed
};

struct InputDescriptor {
    unsigned port, device, index, id;
    std::string description;
};

// A message the core asked to show on screen.
struct ShownMessage {
    std::string text;
    bool extended = false;  // SET_MESSAGE_EXT rather than SET_MESSAGE
    retro_log_level level = RETRO_LOG_INFO;  // extended only
    unsigned target = RETRO_MESSAGE_TARGET_ALL;  // extended only
    unsigned duration = 0;  // milliseconds (extended) or frames
};

// One option as announced through core options v2.
struct OptionDefinition {
    std::string key, desc, info, category, default_value;
    std::vector<std::pair<std::string, std::string>> values;  // value, label ("" when none)
};

class TestFrontend {
public:
    TestFrontend();
    ~TestFrontend();
    TestFrontend(const TestFrontend&) = delete;
    TestFrontend& operator=(const TestFrontend&) = delete;

    // ---- What the frontend offers (set before start() or between calls)
    // A value of nullopt answers the request with a null value.
    void set_variable(const std::string& key, std::optional<std::string> value);
    // Marks the options as changed for the next GET_VARIABLE_UPDATE.
    void set_variables_updated() { variables_updated_ = true; }
    // nullopt answers the request with a null directory.
    void set_system_directory(std::optional<std::string> directory) { system_directory_ = std::move(directory); }
    // nullopt (the default) refuses the request: no save directory.
    void set_save_directory(std::optional<std::string> directory) { save_directory_ = std::move(directory); }
    // Without a log interface the core falls back to standard error.
    void set_log_interface(bool offered) { log_interface_ = offered; }
    // The answer to GET_CORE_OPTIONS_VERSION; unset refuses the request.
    void set_core_options_version(std::optional<unsigned> version) { core_options_version_ = version; }
    // The answer to GET_MESSAGE_INTERFACE_VERSION; unset refuses the request.
    void set_message_interface_version(std::optional<unsigned> version) { message_version_ = version; }
    // Makes the environment callback answer false to `command`.
    void refuse(unsigned command) { refused_.insert(command); }
    void accept(unsigned command) { refused_.erase(command); }

    // ---- Driving the core
    // Hands over every callback (environment first) and calls retro_init.
    void start();
    // Hands over only the environment callback and calls retro_init.
    void start_without_callbacks();
    bool load(const std::string& path);
    bool load(const retro_game_info* info) { return retro_load_game(info); }
    void run(int frames = 1);

    // ---- What the core did
    const std::vector<LogLine>& log() const { return log_; }
    std::vector<std::string> log_texts(retro_log_level level) const;
    // Every logged line as "LEVEL text", for whole-sequence comparisons.
    std::vector<std::string> log_summary() const;
    void clear_log() { log_.clear(); }

    const std::vector<unsigned>& environment_calls() const { return environment_calls_; }
    size_t environment_call_count(unsigned command) const;
    const std::vector<std::pair<std::string, std::string>>& announced_variables() const { return variables_; }
    // Categories announced through core options v2: key, description, info.
    const std::vector<std::vector<std::string>>& option_categories() const { return option_categories_; }
    const std::vector<OptionDefinition>& option_definitions() const { return option_definitions_; }
    // Device types offered for each port: name and device id.
    const std::vector<std::vector<std::pair<std::string, unsigned>>>& port_devices() const { return port_devices_; }
    bool has_keyboard_callback() const { return keyboard_callback_ != nullptr; }
    const std::vector<ShownMessage>& messages() const { return messages_; }
    const std::vector<InputDescriptor>& input_descriptors() const { return input_descriptors_; }
    std::optional<unsigned> pixel_format() const { return pixel_format_; }
    std::optional<unsigned> performance_level() const { return performance_level_; }
    const std::vector<retro_memory_descriptor>& memory_map() const { return memory_map_; }
    const std::vector<retro_game_geometry>& geometry_requests() const { return geometry_requests_; }

    const std::vector<VideoFrame>& video_frames() const { return video_frames_; }
    // Stereo sample frames received per audio batch call.
    const std::vector<std::vector<int16_t>>& audio_batches() const { return audio_batches_; }
    int input_polls() const { return input_polls_; }

    // ---- Input on port 0
    void set_joypad(unsigned id, bool held) { input_[{RETRO_DEVICE_JOYPAD, 0, id}] = held ? 1 : 0; }
    void set_analog(unsigned index, unsigned axis, int16_t value) { input_[{RETRO_DEVICE_ANALOG, index, axis}] = value; }
    void set_key(unsigned keycode, bool held) { input_[{RETRO_DEVICE_KEYBOARD, 0, keycode}] = held ? 1 : 0; }
    void set_pointer(int16_t x, int16_t y, bool pressed);

private:
    static bool on_environment(unsigned command, void* data);
    static void on_log(retro_log_level level, const char* format, ...);
    static void on_video(const void* data, unsigned width, unsigned height, size_t pitch);
    static size_t on_audio_batch(const int16_t* data, size_t frames);
    static void on_input_poll();
    static int16_t on_input_state(unsigned port, unsigned device, unsigned index, unsigned id);
    bool answer(unsigned command, void* data);

    std::map<std::string, std::optional<std::string>> variables_set_;
    bool variables_updated_ = false;
    std::optional<std::string> system_directory_;
    std::optional<std::string> save_directory_;
    bool log_interface_ = true;
    std::optional<unsigned> core_options_version_;
    std::optional<unsigned> message_version_;
    std::set<unsigned> refused_;

    std::vector<LogLine> log_;
    std::vector<unsigned> environment_calls_;
    std::vector<std::pair<std::string, std::string>> variables_;
    std::vector<std::vector<std::string>> option_categories_;
    std::vector<OptionDefinition> option_definitions_;
    std::vector<std::vector<std::pair<std::string, unsigned>>> port_devices_;
    retro_keyboard_event_t keyboard_callback_ = nullptr;
    std::vector<ShownMessage> messages_;
    std::vector<InputDescriptor> input_descriptors_;
    std::optional<unsigned> pixel_format_;
    std::optional<unsigned> performance_level_;
    std::vector<retro_memory_descriptor> memory_map_;
    std::vector<retro_game_geometry> geometry_requests_;
    std::vector<VideoFrame> video_frames_;
    std::vector<std::vector<int16_t>> audio_batches_;
    int input_polls_ = 0;
    std::map<std::tuple<unsigned, unsigned, unsigned>, int16_t> input_;
    TestFrontend* previous_ = nullptr;
};

const char* level_name(retro_log_level level);

}  // namespace tarvel::test
