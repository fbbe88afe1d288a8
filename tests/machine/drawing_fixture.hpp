#pragma once
// Machines for the drawing tests, built from CBE files the writer library
// assembles, with helpers to call a service with register and stack
// arguments, to lay out surfaces and images in the guest heap, to read pixels
// back and to capture standard error while CBE_TRACE selects calls.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "cbe/archive.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "machine/drawing.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"

namespace tarvel::machine::drawing_test {

struct MachineSpec {
    bool big_endian = false;
    // Big-endian files with their data apart from the code open a few group 3
    // entries; `split_layout` false places the data inside the code instead.
    bool split_layout = true;
    std::vector<cbe_writer::ResourceSpec> resources;
    std::vector<u8> code = {0xC0, 0x46, 0xC0, 0x46, 0xC0, 0x46, 0xC0, 0x46};
};

inline TarvelMachine make_machine(const MachineSpec& spec = {}) {
    cbe_writer::CbeBuilder b;
    b.load_address = 0x01000000;
    b.code = spec.code;
    const u32 code_length = static_cast<u32>(spec.code.size());
    b.data_offset = spec.split_layout ? ((code_length + 0xFF) & ~0xFFu) + 0x100 : code_length;
    b.data_address = b.load_address + b.data_offset;
    b.data_size = 0x40;
    b.big_endian = spec.big_endian;
    b.init_data = {1, 2, 3, 4};
    b.embedded = {5, 6, 7, 8};
    cbe_writer::SinglePackageSpec package;
    package.package.resources = spec.resources;
    b.resource_package = cbe_writer::encode_single_package(package);
    auto archive = cbe::parse_archive(b.build());
    EXPECT_TRUE(archive.ok()) << (archive.ok() ? "" : archive.error().to_string());
    auto built = build_machine(archive.value());
    EXPECT_TRUE(built.ok()) << (built.ok() ? "" : built.error().to_string());
    EXPECT_EQ(built.value().big_endian(), spec.big_endian);
    EXPECT_EQ(built.value().resources.main_table.size(), spec.resources.size());
    return std::move(built).value();
}

inline constexpr u32 kTestStack = kStackTop - 0x400;

// Calls service (group, index) the way the dispatcher does: r0..r3 from the
// first four arguments, the rest as words at SP, SP + 4, ...
inline u32 call(TarvelMachine& m, u32 group, u32 index, std::initializer_list<u32> args = {}) {
    auto& r = m.cpu.regs.r;
    for (int i = 0; i < 4; ++i) r[i] = 0;
    r[13] = kTestStack;
    unsigned n = 0;
    for (u32 value : args) {
        if (n < 4) r[n] = value;
        else m.memory.write32(kTestStack + 4 * (n - 4), value);
        ++n;
    }
    services::dispatch_service(m, group, index);
    return r[0];
}

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
