#pragma once
// Screen orientation of the running application. The option can be Auto; the
// effective orientation, which decides the presented frame, never is.

#include <cstdint>
#include <string_view>

namespace tarvel {

enum class Orientation : uint8_t { Auto = 0, Portrait = 1, Landscape = 2 };

constexpr std::string_view orientation_name(Orientation o) {
    switch (o) {
        case Orientation::Portrait: return "Portrait";
        case Orientation::Landscape: return "Landscape";
        default: return "Auto";
    }
}

}  // namespace tarvel
