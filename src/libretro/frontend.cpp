#include "libretro/frontend.hpp"

#include <string>

namespace tarvel::libretro {

FrontendCallbacks& frontend() {
    static FrontendCallbacks callbacks;
    return callbacks;
}

bool environment(unsigned command, void* data) {
    auto callback = frontend().environment;
    return callback != nullptr && callback(command, data);
}

void show_message(std::string_view text, retro_log_level level) {
    constexpr unsigned kMilliseconds = 5000;
    constexpr unsigned kFrames = kMilliseconds * 60 / 1000;
    // A message above the frontend's routine notifications, below its own
    // warnings.
    constexpr unsigned kPriority = 3;
    const std::string message(text);
    unsigned version = 0;
    if (environment(RETRO_ENVIRONMENT_GET_MESSAGE_INTERFACE_VERSION, &version) && version >= 1) {
        retro_message_ext ext{};
        ext.msg = message.c_str();
        ext.duration = kMilliseconds;
        ext.priority = kPriority;
        ext.level = level;
        ext.target = RETRO_MESSAGE_TARGET_OSD;
        ext.type = RETRO_MESSAGE_TYPE_NOTIFICATION;
        ext.progress = -1;
        if (environment(RETRO_ENVIRONMENT_SET_MESSAGE_EXT, &ext)) return;
    }
    retro_message plain{message.c_str(), kFrames};
    environment(RETRO_ENVIRONMENT_SET_MESSAGE, &plain);
}

}  // namespace tarvel::libretro
