#include "memory/guest_strings.hpp"

#include <algorithm>

#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "common/text_encoding.hpp"
#include "memory/guest_memory.hpp"

namespace tarvel::machine {
namespace {

constexpr UChar32 kReplacement = 0xFFFD;

constexpr u64 kAddressSpaceEnd = u64{1} << 32;

// How many of `limit` consecutive items of `size` bytes from `address` start
// below the top of the address space: the rest do not exist.
u32 items_below_top(u32 address, u32 limit, u32 size) {
    const u64 room = (kAddressSpaceEnd - address + size - 1) / size;
    return static_cast<u32>(std::min<u64>(limit, room));
}

// Appends the bytes at `address` up to the first NUL (at most `limit`) to `out`.
template <typename Bytes>
void append_narrow(GuestMemory& memory, u32 address, u32 limit, Bytes& out) {
    const u32 count = items_below_top(address, limit, 1);
    for (u32 i = 0; i < count; ++i) {
        u8 byte = 0;
        if (!memory.try_read8(address + i, byte) || byte == 0) break;
        out.push_back(static_cast<typename Bytes::value_type>(byte));
    }
}

bool starts_with_utf16_mark(std::span<const u8> bytes) {
    return (bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF);
}

// A string marked as UTF-16 holds zero bytes in most of its characters, so it
// runs to a zero unit (pairs counted from the mark), not to the first zero byte.
// `mark` holds the two bytes already read.
std::vector<u8> read_utf16_after_mark(GuestMemory& memory, u32 address, u32 limit, std::span<const u8> mark) {
    std::vector<u8> bytes(mark.begin(), mark.begin() + 2);
    limit = items_below_top(address, limit, 1);
    for (u32 i = 2; i + 1 < limit; i += 2) {
        u8 low = 0, high = 0;
        if (!memory.try_read8(address + i, low) || !memory.try_read8(address + i + 1, high)) break;
        if (low == 0 && high == 0) break;
        bytes.push_back(low);
        bytes.push_back(high);
    }
    return bytes;
}

}  // namespace

std::string decode_narrow(std::span<const u8> bytes) { return decode_marked_text(bytes); }

std::string decode_utf16(std::u16string_view units) {
    if (units.empty()) return {};
    std::string out(units.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                       reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()),
                       kReplacement, nullptr, &status);
    if (U_FAILURE(status)) return std::string("\xEF\xBF\xBD");
    out.resize(static_cast<size_t>(length));
    return out;
}

std::vector<u8> read_narrow_bytes(GuestMemory& memory, u32 address, u32 limit) {
    std::vector<u8> bytes;
    append_narrow(memory, address, limit, bytes);
    return bytes;
}

std::string read_byte_string(GuestMemory& memory, u32 address, u32 limit) {
    std::string text;
    append_narrow(memory, address, limit, text);
    return text;
}

std::string read_narrow_string(GuestMemory& memory, u32 address, u32 limit) {
    std::vector<u8> bytes = read_narrow_bytes(memory, address, limit);
    if (bytes.size() >= 2 && starts_with_utf16_mark(bytes)) bytes = read_utf16_after_mark(memory, address, limit, bytes);
    return decode_narrow(bytes);
}

std::u16string read_wide_units(GuestMemory& memory, u32 address, u32 max_units) {
    std::u16string units;
    const u32 count = items_below_top(address, max_units, 2);
    for (u32 i = 0; i < count; ++i) {
        u16 unit = 0;
        if (!memory.try_read16(address + 2 * i, unit) || unit == 0) break;
        units.push_back(static_cast<char16_t>(unit));
    }
    return units;
}

std::string read_wide_string(GuestMemory& memory, u32 address, u32 max_units) {
    return decode_utf16(read_wide_units(memory, address, max_units));
}

std::string read_narrow_or_wide_string(GuestMemory& memory, u32 address, u32 narrow_limit) {
    if (memory.read8(address + 1) != 0) return read_narrow_string(memory, address, narrow_limit);
    return read_wide_string(memory, address);
}

std::u16string to_utf16(std::string_view utf8) {
    if (utf8.empty()) return {};
    // UTF-16 never needs more units than UTF-8 has bytes.
    std::u16string out(utf8.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length,
                         utf8.data(), static_cast<int32_t>(utf8.size()), kReplacement, nullptr, &status);
    if (U_FAILURE(status)) return std::u16string(1, u'\xFFFD');
    out.resize(static_cast<size_t>(length));
    return out;
}

std::u32string to_code_points(std::string_view utf8) {
    const std::u16string units = to_utf16(utf8);
    std::u32string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size();) {
        UChar32 c = 0;
        U16_NEXT(units.data(), i, units.size(), c);
        out.push_back(static_cast<char32_t>(c));
    }
    return out;
}

std::vector<u8> encode_gbk(std::string_view utf8) {
    std::vector<u8> out;
    out.reserve(utf8.size());
    const std::u32string code_points = to_code_points(utf8);
    for (char32_t c : code_points) {
        if (!encode_gbk_code_point(c, out)) out.push_back('?');
    }
    return out;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

}  // namespace tarvel::machine
