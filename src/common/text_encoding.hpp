#pragma once
// Text decoding for the encodings the platform uses (UTF-8, UTF-16 in either byte order, GBK). Malformed input never fails:
// every malformed sequence becomes U+FFFD, so the result is always valid UTF-8.

#include <span>
#include <string>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel {

enum class TextEncoding : u8 { Utf8, Utf16Le, Utf16Be, Gbk };

// Decodes `bytes` in the given encoding to UTF-8. Gbk is the web's GBK decoder,
// which also accepts the four-byte sequences of GB18030, reads a lone 0x80 as
// the euro sign and follows GB18030's 2022 edition for the codes it moved out
// of the private use area.
std::string decode_text(std::span<const u8> bytes, TextEncoding encoding);

// Appends the GBK bytes of one code point (one byte for ASCII and the euro
// sign, two otherwise); false, with nothing appended, when GBK has no form.
bool encode_gbk_code_point(char32_t c, std::vector<u8>& out);

// Decodes a stored resource or package name: a UTF-8 byte-order mark selects
// UTF-8, FF FE selects UTF-16LE, FE FF UTF-16BE (each mark dropped); any other
// name is GBK.
std::string decode_marked_text(std::span<const u8> bytes);

}  // namespace tarvel
