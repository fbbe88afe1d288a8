#include "e2e/golden.hpp"

#include <cstdlib>
#include <filesystem>
#include <fmt/format.h>

namespace tarvel::e2e {

using tarvel_run::Picture;

bool rebaselining() {
    const char* value = std::getenv("TARVEL_REBASELINE");
    return value != nullptr && std::string(value) == "1";
}

std::string output_dir() {
    std::filesystem::create_directories(TARVEL_E2E_OUTPUT_DIR);
    return TARVEL_E2E_OUTPUT_DIR;
}

std::string first_difference(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height)
        return fmt::format("sizes differ: {}x{} and {}x{}", a.width, a.height, b.width, b.height);
    size_t differing = 0;
    size_t first = a.pixels.size();
    for (size_t i = 0; i < a.pixels.size(); ++i)
        if (a.pixels[i] != b.pixels[i]) {
            if (differing++ == 0) first = i;
        }
    if (differing == 0) return {};
    return fmt::format("{} pixels differ, the first at ({}, {}): 0x{:08x} and 0x{:08x}", differing, first % a.width,
                       first / a.width, a.pixels[first], b.pixels[first]);
}

Picture load_picture(const std::string& path) {
    Picture picture;
    std::string error;
    EXPECT_TRUE(tarvel_run::read_png(path, picture, error)) << error;
    return picture;
}

::testing::AssertionResult matches_golden(const std::string& name, const Picture& frame) {
    const std::string golden_path = std::string(TARVEL_E2E_GOLDEN_DIR) + "/" + name + ".png";
    if (frame.pixels.empty()) return ::testing::AssertionFailure() << name << ": the run presented no frame";
    if (rebaselining()) {
        std::string error = tarvel_run::write_png(golden_path, frame);
        if (!error.empty()) return ::testing::AssertionFailure() << error;
        return ::testing::AssertionSuccess() << "rebaselined " << golden_path;
    }
    Picture golden;
    std::string error;
    if (!tarvel_run::read_png(golden_path, golden, error))
        return ::testing::AssertionFailure() << "no golden picture " << golden_path << " (" << error
                                             << "); make it with scripts/rebaseline";
    std::string difference = first_difference(golden, frame);
    if (difference.empty()) return ::testing::AssertionSuccess();
    const std::string actual_path = output_dir() + "/" + name + ".actual.png";
    tarvel_run::write_png(actual_path, frame);
    return ::testing::AssertionFailure() << name << " differs from " << golden_path << ": " << difference
                                         << "; this run's frame is " << actual_path;
}

}  // namespace tarvel::e2e
