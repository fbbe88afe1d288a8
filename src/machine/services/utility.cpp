// The utility service. Nothing here fails the guest: unreadable memory reads
// as 0, dropped writes are recorded by guest memory, unknown indices give 0.
//
// The angle of a vector (index 33) is atan2 rounded to the nearest whole
// degree and brought into 0..359, so that sine and cosine of the result point
// the way the vector does; the zero vector has angle 0.

#include "machine/services/utility.hpp"

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "memory/guest_strings.hpp"
#include "machine/machine.hpp"
#include "machine/services/data.hpp"
#include "machine/services/dispatch.hpp"

namespace tarvel::machine::services {
namespace {

constexpr u32 kNotFound = 0xFFFFFFFF;

i32 saturate_to_i32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<i32>::max();
    if (value <= -2147483648.0) return std::numeric_limits<i32>::min();
    return static_cast<i32>(value);  // truncates toward zero
}

std::string name_argument(TarvelMachine& m) {
    return read_narrow_string(m.memory, service_arg(m, 0), kResourceNameLimit);
}

u32 data_by_name(TarvelMachine& m) {
    const std::optional<u32> number = resource_number_by_name(m, name_argument(m));
    return number ? resource_data_address(m, *number) : 0;
}

// ---- cursor calls: r0 = buffer, r1 = address of the cursor word ----

struct Cursor {
    u32 buffer;
    u32 cursor_address;
    u32 offset;  // the cursor's value

    u32 at() const { return buffer + offset; }
};

Cursor read_cursor(TarvelMachine& m) {
    const u32 cursor_address = service_arg(m, 1);
    return Cursor{service_arg(m, 0), cursor_address, m.memory.read32(cursor_address)};
}

void advance(TarvelMachine& m, const Cursor& c, u32 by) { m.memory.write32(c.cursor_address, c.offset + by); }

// Copies `length` guest bytes from `source` into a new heap block followed by a
// NUL. Unreadable bytes copy as 0. Returns the block, or 0 when the heap is out.
u32 copy_string_to_heap(TarvelMachine& m, u32 source, u32 length) {
    const u32 block = m.heap.allocate(length + 1);
    if (block == 0) return 0;
    std::vector<u8> bytes(size_t{length} + 1, 0);
    if (!m.memory.is_readable(source, length) || !m.memory.read_bytes_into(source, std::span(bytes).first(length))) {
        for (u32 i = 0; i < length; ++i) bytes[i] = m.memory.read8(source + i);
    }
    m.memory.write_bytes(block, bytes);
    return block;
}

u32 read_u16(TarvelMachine& m) {
    const Cursor c = read_cursor(m);
    const u16 value = m.memory.read16(c.at());
    advance(m, c, 2);
    return value;
}

u32 read_u32(TarvelMachine& m) {
    const Cursor c = read_cursor(m);
    const u32 value = m.memory.read32(c.at());
    advance(m, c, 4);
    return value;
}

u32 write_u16(TarvelMachine& m) {
    const Cursor c = read_cursor(m);
    m.memory.write16(c.at(), static_cast<u16>(service_arg(m, 2)));
    advance(m, c, 2);
    return c.offset + 2;
}

u32 write_u32(TarvelMachine& m) {
    const Cursor c = read_cursor(m);
    m.memory.write32(c.at(), service_arg(m, 2));
    advance(m, c, 4);
    return c.offset + 4;
}

u32 read_string_u8_length(TarvelMachine& m) {
    const Cursor c = read_cursor(m);
    const u32 length = m.memory.read8(c.at());
    const u32 block = copy_string_to_heap(m, c.at() + 1, length);
    advance(m, c, 1 + length);
    return block;
}

u32 read_string_u32_length(TarvelMachine& m) {
    const Cursor c = read_cursor(m);
    u32 length = 0;
    if (!m.memory.try_read32(c.at(), length)) {
        // No length to go by: an empty string, and the length word counts as read.
        advance(m, c, 4);
        return copy_string_to_heap(m, 0, 0);
    }
    if (length > kMaxCursorStringLength) return 0;
    const u32 block = copy_string_to_heap(m, c.at() + 4, length);
    advance(m, c, 4 + length);
    return block;
}

u32 strings_equal(TarvelMachine& m) {
    const std::vector<u8> a = read_narrow_bytes(m.memory, service_arg(m, 0), kTextLimit);
    const std::vector<u8> b = read_narrow_bytes(m.memory, service_arg(m, 1), kTextLimit);
    return a == b ? 1 : 0;
}

}  // namespace

i32 fixed_sine(i32 degrees) {
    return saturate_to_i32(std::sin(static_cast<double>(degrees) * std::numbers::pi / 180.0) * kTrigScale);
}

i32 fixed_cosine(i32 degrees) {
    return fixed_sine(static_cast<i32>(static_cast<u32>(degrees) + 90u));
}

u32 vector_angle(i32 x, i32 y) {
    if (x == 0 && y == 0) return 0;
    const double degrees = std::atan2(static_cast<double>(y), static_cast<double>(x)) * 180.0 / std::numbers::pi;
    const long whole = std::lround(degrees);  // -180..180
    return static_cast<u32>((whole % 360 + 360) % 360);
}

bool rectangles_overlap(u32 point_a, u32 size_a, u32 point_b, u32 size_b) {
    auto low = [](u32 packed) { return static_cast<i32>(static_cast<i16>(packed & 0xFFFF)); };
    auto high = [](u32 packed) { return static_cast<i32>(static_cast<i16>(packed >> 16)); };
    const i32 ax = low(point_a), ay = high(point_a), aw = low(size_a), ah = high(size_a);
    const i32 bx = low(point_b), by = high(point_b), bw = low(size_b), bh = high(size_b);
    return bx < ax + aw && ax < bx + bw && by < ay + ah && ay < by + bh;
}

void utility_service(TarvelMachine& m, u32 index) {
    switch (index) {
        case 9:
            m.memory.write32(kResourceDirectoryWord, service_arg(m, 0));
            return set_result(m, 0);
        case 10: return set_result(m, m.memory.read32(kResourceDirectoryWord));
        case 11: return set_result(m, resource_data_address(m, service_arg(m, 0)));
        case 12: case 15: case 16: return set_result(m, data_by_name(m));
        case 13: return set_result(m, resource_name_address(m, service_arg(m, 0)));
        case 14: return set_result(m, resource_number_by_name(m, name_argument(m)).value_or(kNotFound));
        case 18: return set_result(m, strings_equal(m));
        case 19: return set_result(m, read_u16(m));
        case 20: return set_result(m, read_u32(m));
        case 23: return set_result(m, write_u16(m));
        case 24: return set_result(m, write_u32(m));
        case 25: return set_result(m, read_string_u8_length(m));
        case 29: return set_result(m, read_string_u32_length(m));
        case 30: return set_result(m, kSystemArenaRecord);
        case 31: return set_result(m, static_cast<u32>(fixed_sine(service_arg_i32(m, 0))));
        case 32: return set_result(m, static_cast<u32>(fixed_cosine(service_arg_i32(m, 0))));
        case 33: return set_result(m, vector_angle(service_arg_i32(m, 0), service_arg_i32(m, 1)));
        case 34:
            return set_result(m, rectangles_overlap(service_arg(m, 0), service_arg(m, 1), service_arg(m, 2),
                                                    service_arg(m, 3)) ? 1 : 0);
        default: return set_result(m, 0);
    }
}

void utility_alias_from_group3(TarvelMachine& m, u32 index) {
    switch (index) {
        case 81: return utility_service(m, 9);
        case 82: return utility_service(m, 10);
        case 83: return utility_service(m, 11);
        case 84: case 87: case 88: return utility_service(m, 12);
        case 85: return utility_service(m, 13);
        case 86: return utility_service(m, 14);
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
