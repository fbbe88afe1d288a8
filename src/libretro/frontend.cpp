#include "libretro/frontend.hpp"

namespace tarvel::libretro {

FrontendCallbacks& frontend() {
    static FrontendCallbacks callbacks;
    return callbacks;
}

bool environment(unsigned command, void* data) {
    auto callback = frontend().environment;
    return callback != nullptr && callback(command, data);
}

}  // namespace tarvel::libretro
