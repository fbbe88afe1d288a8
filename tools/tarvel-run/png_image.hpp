#pragma once
// Frames as PNG files (8-bit RGB, no alpha: the core's frames are opaque).

#include <cstdint>
#include <string>
#include <vector>

namespace tarvel_run {

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint32_t> pixels;  // 0xFFRRGGBB, rows packed

    friend bool operator==(const Picture&, const Picture&) = default;
};

// Writes the picture; returns an error message, or an empty string on success.
std::string write_png(const std::string& path, const Picture& picture);

// Reads any PNG libpng understands into 0xFFRRGGBB pixels (alpha dropped,
// palettes, grey and 16-bit samples expanded). Error message in `error`.
bool read_png(const std::string& path, Picture& picture, std::string& error);

}  // namespace tarvel_run
