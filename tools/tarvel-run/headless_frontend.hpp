#pragma once
// The frontend side of the libretro interface, without a window: it answers
// the core's environment requests, prints the core's log lines on standard
// output, feeds the scripted input and keeps what the core presents so that
// it can be inspected or written out.

#include <libretro.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core_library.hpp"
#include "input_script.hpp"
#include "png_image.hpp"
#include "wav_writer.hpp"

namespace tarvel_run {

// The totals the core logs (at debug level) when its game is unloaded.
struct RunTotals {
    uint64_t ticks = 0;
    uint64_t instructions = 0;
};

// Reads "Machine ran N ticks and M guest instructions".
std::optional<RunTotals> parse_run_totals(const std::string& line);

struct FrontendSettings {
    std::map<std::string, std::string> options;  // core option key -> value
    std::optional<std::string> system_directory;
    std::optional<std::string> save_directory;
    bool show_debug_lines = false;
};

class HeadlessFrontend {
public:
    HeadlessFrontend(FrontendSettings settings, const InputScript* script, WavWriter* wav);
    ~HeadlessFrontend();
    HeadlessFrontend(const HeadlessFrontend&) = delete;
    HeadlessFrontend& operator=(const HeadlessFrontend&) = delete;

    // Hands every callback to the core. The core announces its options here.
    void attach(const CoreApi& core);

    // Option keys given on the command line that the core did not announce.
    std::vector<std::string> unknown_option_keys() const;

    // The size of the picture the core presents, which pointer positions
    // refer to: from the audio/video information after load, then from the
    // core's geometry announcements.
    void set_geometry(unsigned width, unsigned height);

    // Chooses the scripted input that the next retro_run reads (frames from 1).
    void begin_frame(long frame);

    long video_frames() const { return video_frames_; }
    long audio_frames() const { return audio_frames_; }
    long input_polls() const { return input_polls_; }
    const Picture& last_frame() const { return last_frame_; }
    const std::vector<std::string>& announced_keys() const { return announced_keys_; }
    const std::optional<RunTotals>& totals() const { return totals_; }

private:
    static bool environment(unsigned command, void* data);
    static void log(retro_log_level level, const char* format, ...);
    static void video_refresh(const void* data, unsigned width, unsigned height, size_t pitch);
    static void audio_sample(int16_t, int16_t) {}
    static size_t audio_sample_batch(const int16_t* data, size_t frames);
    static void input_poll();
    static int16_t input_state(unsigned port, unsigned device, unsigned index, unsigned id);
    bool answer(unsigned command, void* data);
    int16_t pointer_state(unsigned id) const;

    FrontendSettings settings_;
    const InputScript* script_;
    WavWriter* wav_;
    std::map<std::string, std::string> option_defaults_;
    std::vector<std::string> announced_keys_;
    unsigned pixel_format_ = RETRO_PIXEL_FORMAT_0RGB1555;
    unsigned width_ = 240;
    unsigned height_ = 400;
    FrameInput input_;
    bool touched_before_ = false;  // a contact happened; its last place stays reported
    int16_t last_pointer_x_ = 0;
    int16_t last_pointer_y_ = 0;
    long video_frames_ = 0;
    long audio_frames_ = 0;
    long input_polls_ = 0;
    Picture last_frame_;
    std::optional<RunTotals> totals_;
};

}  // namespace tarvel_run
