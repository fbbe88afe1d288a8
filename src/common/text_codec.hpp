#pragma once
// Character sets of guest text, through ICU: UTF-8, UTF-16 in either byte
// order, and GBK. Decoding never fails: every malformed or unmappable sequence
// becomes U+FFFD.
//
// GBK here is the decoder of that name in the WHATWG Encoding Standard, which
// is the GB18030 decoder: besides the one- and two-byte GBK forms it accepts
// the four-byte sequences, and the lone byte 0x80 is the euro sign.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "common/bytes.hpp"

namespace tarvel::text_codec {

enum class Charset : u8 { Utf8, Utf16Le, Utf16Be, Gbk };

inline constexpr char32_t kReplacement = U'\uFFFD';

// Code points of `bytes` in `charset`.
std::u32string decode(std::span<const u8> bytes, Charset charset);

// The encoding a guest narrow string announces by its first bytes: EF BB BF
// is UTF-8, FF FE UTF-16LE, FE FF UTF-16BE (each mark needs its whole length
// present); anything else is GBK without a mark.
struct MarkedCharset {
    Charset charset = Charset::Gbk;
    size_t mark_length = 0;  // bytes of the byte-order mark, dropped before decoding
};
MarkedCharset detect_byte_order_mark(std::span<const u8> bytes);

// Decodes a guest narrow string by the rule above, without its mark.
std::u32string decode_marked(std::span<const u8> bytes);

// Code points to UTF-8 or UTF-16. Values that are not Unicode scalar values
// (surrogates, anything past U+10FFFF) come out as U+FFFD.
std::string to_utf8(std::u32string_view text);
std::u16string to_utf16(std::u32string_view text);

}  // namespace tarvel::text_codec
