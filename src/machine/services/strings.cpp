// The byte-string library (group 6): memory copies and fills, string length,
// copies and comparisons, formatting, decimal parsing and a power function,
// all working on guest memory. A bad guest pointer never stops the machine:
// unbacked bytes read as 0, dropped writes are reported (string_memory.hpp).
//
// Bounds. Where the platform gives none, the routines bound what guest code
// could otherwise run without end:
// - string copy and string append treat a string as at most 65536 bytes, the
//   same cap as string length: a source without a NUL in that many bytes is
//   copied up to the cap and then terminated; append starts at byte 65536 of
//   a destination without a NUL.
// - copy, fill and the bounded routines take the count as given, but work a
//   stretch of backed memory at a time and skip unbacked stretches whole, so
//   a count of 0xFFFFFFFF costs what the regions hold, not four billion steps.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "machine/machine.hpp"
#include "memory/guest_strings.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"
#include "machine/services/string_memory.hpp"
#include "machine/services/strings.hpp"

namespace tarvel::machine::services {
namespace {

u32 arg(TarvelMachine& m, unsigned n) { return service_arg(m, n); }

// ---- copies ----

void copy_memory(TarvelMachine& m) { copy_guest_bytes(m.memory, arg(m, 0), arg(m, 1), arg(m, 2)); }

void fill_memory(TarvelMachine& m) {
    fill_guest_bytes(m.memory, arg(m, 0), static_cast<u8>(arg(m, 1)), arg(m, 2));
}

// Bytes up to and including the source's NUL, at most n; the rest of the n
// bytes become zeros. An unbacked source byte reads as 0, so it ends the copy.
void bounded_string_copy(TarvelMachine& m) {
    const u32 destination = arg(m, 0), source = arg(m, 1), n = arg(m, 2);
    const u32 length = guest_string_length(m.memory, source, n);
    copy_guest_bytes(m.memory, destination, source, length);
    fill_guest_bytes(m.memory, u64{destination} + length, 0, u64{n} - length);
}

// Copies the string at `source` (at most kByteStringLimit bytes) to
// `destination` and terminates it.
void copy_terminated(TarvelMachine& m, u64 destination, u32 source) {
    const u32 length = guest_string_length(m.memory, source, kByteStringLimit);
    copy_guest_bytes(m.memory, destination, source, length);
    fill_guest_bytes(m.memory, destination + length, 0, 1);
}

void string_copy(TarvelMachine& m) { copy_terminated(m, arg(m, 0), arg(m, 1)); }

void string_append(TarvelMachine& m) {
    const u32 destination = arg(m, 0);
    copy_terminated(m, u64{destination} + guest_string_length(m.memory, destination, kByteStringLimit), arg(m, 1));
}

// ---- formatting ----

void format_into_buffer(TarvelMachine& m) {
    const std::string format = read_byte_string(m.memory, arg(m, 1), kTextLimit);
    std::string out = format_guest_text(m, format, 2);
    out.push_back('\0');
    write_guest_bytes(m.memory, arg(m, 0), std::span(reinterpret_cast<const u8*>(out.data()), out.size()));
}

// ---- numbers ----

u32 parse_integer_argument(TarvelMachine& m) {
    return static_cast<u32>(parse_decimal_integer(read_byte_string(m.memory, arg(m, 0), kDecimalTextLimit)));
}

u32 power(TarvelMachine& m) {
    const float x = std::bit_cast<float>(arg(m, 0));
    const float y = std::bit_cast<float>(arg(m, 1));
    return std::bit_cast<u32>(std::pow(x, y));
}

// ---- comparisons ----

u32 compare(TarvelMachine& m, u64 limit, StopAtNul stop, ByteFold fold) {
    return static_cast<u32>(compare_guest_bytes(m.memory, arg(m, 0), arg(m, 1), limit, stop, fold));
}

}  // namespace

i32 parse_decimal_integer(std::string_view text) {
    // Code points, with every malformed sequence standing as U+FFFD.
    std::vector<UChar32> points;
    points.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        points.push_back(c < 0 ? 0xFFFD : c);
    }
    auto first = points.begin();
    auto last = points.end();
    while (first != last && u_isUWhiteSpace(*first)) ++first;
    while (last != first && u_isUWhiteSpace(*(last - 1))) --last;

    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    if (first == last) return 0;
    std::string digits = negative ? "-" : "";
    for (auto it = first; it != last; ++it) {
        if (*it < '0' || *it > '9') return 0;
        digits.push_back(static_cast<char>(*it));
    }
    i32 value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) return 0;  // out of range
    return value;
}

void string_service(TarvelMachine& m, u32 index) {
    switch (index) {
        case 0:
        case 11: copy_memory(m); return;  // r0 unchanged
        case 1: return set_result(m, guest_string_length(m.memory, arg(m, 0), kByteStringLimit));
        case 2: fill_memory(m); return;
        case 3: format_into_buffer(m); return;
        case 5: return set_result(m, static_cast<u32>(m.instruction_count));
        case 7: bounded_string_copy(m); return;
        case 8: string_copy(m); return;
        case 9: string_append(m); return;
        case 10:
        case 12: return set_result(m, parse_integer_argument(m));
        case 13: return set_result(m, power(m));
        case 14: return set_result(m, compare(m, kByteStringLimit, StopAtNul::Yes, ByteFold::None));
        case 15: return set_result(m, compare(m, arg(m, 2), StopAtNul::No, ByteFold::None));
        case 16: return set_result(m, compare(m, arg(m, 2), StopAtNul::Yes, ByteFold::None));
        case 20: return set_result(m, compare(m, kByteStringLimit, StopAtNul::Yes, ByteFold::AsciiToLower));
        case 21: return set_result(m, compare(m, arg(m, 2), StopAtNul::Yes, ByteFold::AsciiToLower));
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
