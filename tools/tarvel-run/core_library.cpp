#include "core_library.hpp"

#include <dlfcn.h>

namespace tarvel_run {

std::unique_ptr<CoreLibrary> CoreLibrary::open(const std::string& path, std::string& error) {
    std::unique_ptr<CoreLibrary> core(new CoreLibrary);
    // RTLD_NODELETE: the core and the libraries it brought in stay mapped
    // until the process ends. Some of those libraries keep process-wide state
    // they never free; unmapped at dlclose, it would look like a leak to a
    // leak checker that can no longer even name the code that made it.
    core->handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (core->handle_ == nullptr) {
        const char* why = ::dlerror();
        error = "cannot load the core " + path + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    bool complete = true;
    auto resolve = [&](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(::dlsym(core->handle_, name));
        if (slot == nullptr) {
            error += (error.empty() ? "the core lacks " : ", ") + std::string(name);
            complete = false;
        }
    };
    CoreApi& a = core->api_;
    resolve(a.api_version, "retro_api_version");
    resolve(a.get_system_info, "retro_get_system_info");
    resolve(a.get_system_av_info, "retro_get_system_av_info");
    resolve(a.set_environment, "retro_set_environment");
    resolve(a.set_video_refresh, "retro_set_video_refresh");
    resolve(a.set_audio_sample, "retro_set_audio_sample");
    resolve(a.set_audio_sample_batch, "retro_set_audio_sample_batch");
    resolve(a.set_input_poll, "retro_set_input_poll");
    resolve(a.set_input_state, "retro_set_input_state");
    resolve(a.init, "retro_init");
    resolve(a.deinit, "retro_deinit");
    resolve(a.load_game, "retro_load_game");
    resolve(a.unload_game, "retro_unload_game");
    resolve(a.run, "retro_run");
    resolve(a.reset, "retro_reset");
    resolve(a.serialize_size, "retro_serialize_size");
    resolve(a.serialize, "retro_serialize");
    resolve(a.unserialize, "retro_unserialize");
    if (!complete) return nullptr;
    return core;
}

CoreLibrary::~CoreLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

}  // namespace tarvel_run
