#pragma once
// A libretro core loaded at run time: the shared library and its entry points.

#include <libretro.h>

#include <memory>
#include <string>

namespace tarvel_run {

struct CoreApi {
    decltype(&retro_api_version) api_version;
    decltype(&retro_get_system_info) get_system_info;
    decltype(&retro_get_system_av_info) get_system_av_info;
    decltype(&retro_set_environment) set_environment;
    decltype(&retro_set_video_refresh) set_video_refresh;
    decltype(&retro_set_audio_sample) set_audio_sample;
    decltype(&retro_set_audio_sample_batch) set_audio_sample_batch;
    decltype(&retro_set_input_poll) set_input_poll;
    decltype(&retro_set_input_state) set_input_state;
    decltype(&retro_init) init;
    decltype(&retro_deinit) deinit;
    decltype(&retro_load_game) load_game;
    decltype(&retro_unload_game) unload_game;
    decltype(&retro_run) run;
    decltype(&retro_reset) reset;
    decltype(&retro_serialize_size) serialize_size;
    decltype(&retro_serialize) serialize;
    decltype(&retro_unserialize) unserialize;
};

class CoreLibrary {
public:
    // Loads the library and resolves every entry point; on failure `error`
    // says what is missing and nullptr is returned.
    static std::unique_ptr<CoreLibrary> open(const std::string& path, std::string& error);
    ~CoreLibrary();
    CoreLibrary(const CoreLibrary&) = delete;
    CoreLibrary& operator=(const CoreLibrary&) = delete;

    const CoreApi& api() const { return api_; }

private:
    CoreLibrary() = default;
    void* handle_ = nullptr;
    CoreApi api_{};
};

}  // namespace tarvel_run
