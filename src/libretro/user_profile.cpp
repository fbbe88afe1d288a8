#include "libretro/user_profile.hpp"

#include <atomic>
#include <string>
#include <string_view>

#include "common/log.hpp"
#include "common/utf8.hpp"
#include "libretro/frontend.hpp"
#include "libretro/orientation_profile.hpp"

namespace tarvel::libretro {
namespace {

std::atomic<bool> g_profile_loaded{false};

}  // namespace

void load_user_profile_once() {
    if (g_profile_loaded.exchange(true)) return;

    const char* directory = nullptr;
    if (!environment(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY, &directory) || directory == nullptr) {
        TARVEL_LOG(Info, kApiTarget, "No frontend system directory; user orientation profile not loaded");
        return;
    }
    std::string_view dir(directory);
    if (!utf8::is_valid(dir)) {
        TARVEL_LOG(Warn, kApiTarget, "Frontend system directory is not valid UTF-8");
        return;
    }
    if (dir.empty()) {
        TARVEL_LOG(Info, kApiTarget, "Frontend system directory is empty; user orientation profile not loaded");
        return;
    }
    std::string path(dir);
    if (path.back() != '/') path += '/';
    path += kOrientationProfileFileName;

    auto loaded = load_user_orientation_profile(path);
    if (loaded)
        TARVEL_LOG(Info, kApiTarget, "Loaded {} user orientation entries from {}", *loaded, path);
    else
        TARVEL_LOG(Info, kApiTarget, "No user orientation profile applied: {}", loaded.error().to_string());
}

}  // namespace tarvel::libretro
