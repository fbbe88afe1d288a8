#pragma once
// The frontend side of the libretro interface, without a window: it answers
// the core's environment requests, prints the core's log lines on standard
// output and keeps what the core presents so that it can be inspected or
// written out. Input reads as nothing held.

#include <libretro.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core_library.hpp"

namespace tarvel_run {

struct PresentedFrame {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint32_t> pixels;  // XRGB8888, rows packed
};

class HeadlessFrontend {
public:
    HeadlessFrontend(std::map<std::string, std::string> options, std::optional<std::string> system_directory);
    ~HeadlessFrontend();
    HeadlessFrontend(const HeadlessFrontend&) = delete;
    HeadlessFrontend& operator=(const HeadlessFrontend&) = delete;

    // Hands every callback to the core. The core announces its options here.
    void attach(const CoreApi& core);

    // Option keys given on the command line that the core did not announce.
    std::vector<std::string> unknown_option_keys() const;

    long video_frames() const { return video_frames_; }
    long audio_frames() const { return audio_frames_; }
    const PresentedFrame& last_frame() const { return last_frame_; }
    const std::vector<std::string>& announced_keys() const { return announced_keys_; }

private:
    static bool environment(unsigned command, void* data);
    static void log(retro_log_level level, const char* format, ...);
    static void video_refresh(const void* data, unsigned width, unsigned height, size_t pitch);
    static void audio_sample(int16_t, int16_t) {}
    static size_t audio_sample_batch(const int16_t* data, size_t frames);
    static void input_poll() {}
    static int16_t input_state(unsigned, unsigned, unsigned, unsigned) { return 0; }
    bool answer(unsigned command, void* data);

    std::map<std::string, std::string> options_;
    std::map<std::string, std::string> option_defaults_;
    std::vector<std::string> announced_keys_;
    std::optional<std::string> system_directory_;
    unsigned pixel_format_ = RETRO_PIXEL_FORMAT_0RGB1555;
    long video_frames_ = 0;
    long audio_frames_ = 0;
    PresentedFrame last_frame_;
};

}  // namespace tarvel_run
