#pragma once
// Helpers of the drawing tests (on the shared test machines): lay out surfaces
// and images in the guest heap, read pixels back and capture standard error
// while CBE_TRACE selects calls.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "machine/drawing.hpp"
#include "machine/machine.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::drawing_test {

using test::call;
using test::kTestStack;
using test::MachineSpec;
using test::make_machine;

inline u32 point(i32 x, i32 y) { return (static_cast<u32>(y) << 16) | (static_cast<u32>(x) & 0xFFFF); }

inline u16 screen_pixel(TarvelMachine& m, u32 column, u32 row) {
    return m.memory.read16(kScreenBuffer + (row * kScreenWidth + column) * 2);
}
inline void fill_whole_screen(TarvelMachine& m, u16 colour) {
    for (u32 i = 0; i < kScreenWidth * kScreenHeight; ++i) m.memory.write16(kScreenBuffer + 2 * i, colour);
}

// A pixel array of `width` x `height` (stride rounded up to 4) with its record.
struct PixelArray {
    u32 record = 0;
    u32 pixels = 0;
    u32 width = 0;
    u32 height = 0;

    u32 stride() const { return row_stride(width); }
    u32 address(u32 x, u32 y) const { return pixels + (y * stride() + x) * 2; }
};

// Record and pixels on the heap; every pixel, padding included, set by `value`.
inline PixelArray make_pixels(TarvelMachine& m, u32 width, u32 height,
                              const std::function<u16(u32 x, u32 y)>& value) {
    PixelArray a;
    a.width = width;
    a.height = height;
    a.record = m.heap.allocate(12);
    a.pixels = m.heap.allocate(row_stride(width) * height * 2);
    EXPECT_NE(a.record, 0u);
    EXPECT_NE(a.pixels, 0u);
    m.memory.write32(a.record, a.pixels);
    m.memory.write16(a.record + 4, static_cast<u16>(width));
    m.memory.write16(a.record + 6, static_cast<u16>(height));
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < a.stride(); ++x) m.memory.write16(a.address(x, y), value(x, y));
    return a;
}

// Sets CBE_TRACE for the scope and captures standard error.
class TraceCapture {
public:
    explicit TraceCapture(const char* filter) {
        if (const char* old = std::getenv("CBE_TRACE")) previous_ = old;
        setenv("CBE_TRACE", filter, 1);
        ::testing::internal::CaptureStderr();
    }
    ~TraceCapture() {
        if (!taken_) ::testing::internal::GetCapturedStderr();
        restore();
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::string text() {
        taken_ = true;
        std::string out = ::testing::internal::GetCapturedStderr();
        restore();
        return out;
    }

private:
    void restore() {
        if (previous_) setenv("CBE_TRACE", previous_->c_str(), 1);
        else unsetenv("CBE_TRACE");
    }
    std::optional<std::string> previous_;
    bool taken_ = false;
};

}  // namespace tarvel::machine::drawing_test
