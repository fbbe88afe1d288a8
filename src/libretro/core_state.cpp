#include "libretro/core_state.hpp"

#include <algorithm>

#include <zlib.h>

namespace tarvel::libretro {

u32 content_crc32(std::span<const u8> file) {
    // zlib takes at most a uInt per call; content files can be larger.
    uLong crc = crc32(0L, Z_NULL, 0);
    size_t done = 0;
    while (done < file.size()) {
        auto chunk = static_cast<uInt>(std::min<size_t>(file.size() - done, 1u << 30));
        crc = crc32(crc, file.data() + done, chunk);
        done += chunk;
    }
    return static_cast<u32>(crc);
}

std::unique_ptr<CoreState>& core_state() {
    static std::unique_ptr<CoreState> state;
    return state;
}

}  // namespace tarvel::libretro
