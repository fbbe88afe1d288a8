// Reading the primitive payload encodings; see codec.hpp.
#include "state/codec.hpp"

#include <fmt/format.h>

#include "common/utf8.hpp"

namespace tarvel::save_state_detail {

const u8* PayloadReader::raw(size_t n) {
    if (failed()) return nullptr;
    if (n > remaining()) {
        fail(fmt::format("unexpected end of data: {} bytes needed at offset {}, {} left", n, pos_, remaining()));
        return nullptr;
    }
    const u8* p = in_.data() + pos_;
    pos_ += n;
    return p;
}

u8 PayloadReader::u8_() {
    const u8* p = raw(1);
    return p ? *p : 0;
}

bool PayloadReader::boolean() {
    size_t at = pos_;
    u8 v = u8_();
    if (v > 1) fail(fmt::format("invalid bool value {} at offset {}", v, at));
    return v == 1;
}

i16 PayloadReader::i16_() {
    const u8* p = raw(2);
    return p ? static_cast<i16>(load_le16(p)) : 0;
}

u32 PayloadReader::u32_() {
    const u8* p = raw(4);
    return p ? load_le32(p) : 0;
}

u64 PayloadReader::u64_() {
    u64 low = u32_();
    u64 high = u32_();
    return low | (high << 32);
}

size_t PayloadReader::count(size_t min_element_bytes) {
    size_t at = pos_;
    u64 n = u64_();
    if (failed()) return 0;
    u64 room = min_element_bytes ? remaining() / min_element_bytes : remaining();
    if (n > room) {
        fail(fmt::format("element count {} at offset {} exceeds the remaining data", n, at));
        return 0;
    }
    return static_cast<size_t>(n);
}

std::vector<u8> PayloadReader::blob() {
    std::span<const u8> bytes = blob_view();
    return std::vector<u8>(bytes.begin(), bytes.end());
}

std::span<const u8> PayloadReader::blob_view() {
    size_t n = count(1);
    const u8* p = raw(n);
    return p ? std::span<const u8>(p, n) : std::span<const u8>();
}

std::string PayloadReader::text() {
    size_t at = pos_;
    size_t n = count(1);
    const u8* p = raw(n);
    if (!p) return {};
    std::string s(reinterpret_cast<const char*>(p), n);
    if (!utf8::is_valid(s)) {
        fail(fmt::format("string at offset {} is not valid UTF-8", at));
        return {};
    }
    return s;
}

}  // namespace tarvel::save_state_detail
