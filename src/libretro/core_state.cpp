#include "libretro/core_state.hpp"

namespace tarvel::libretro {

std::unique_ptr<CoreState>& core_state() {
    static std::unique_ptr<CoreState> state;
    return state;
}

}  // namespace tarvel::libretro
