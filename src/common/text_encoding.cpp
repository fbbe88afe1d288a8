#include "common/text_encoding.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include <iconv.h>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace tarvel {
namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

const char* converter_name(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8: return "UTF-8";
        case TextEncoding::Utf16Le: return "UTF-16LE";
        case TextEncoding::Utf16Be: return "UTF-16BE";
        case TextEncoding::Gbk: return "gb18030";
    }
    return "UTF-8";
}

UConverter* open_converter(TextEncoding encoding) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(converter_name(encoding), &status);
    if (U_FAILURE(status) || !converter) std::abort();  // the converters ship with ICU's data
    if (encoding == TextEncoding::Gbk) {
        // GBK is walked sequence by sequence (below); the converter maps one
        // well-formed sequence at a time and reports anything it lacks.
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        // ICU always encodes private-use code points through their fallbacks,
        // so those the newer tables moved out of the two-byte area still get
        // their old bytes.
        ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    } else {
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &status);
    }
    return converter;
}

// Converters are cached per thread: opening one costs far more than a short name.
UConverter* converter_for(TextEncoding encoding) {
    thread_local ConverterPtr cache[4];
    ConverterPtr& slot = cache[static_cast<int>(encoding)];
    if (!slot) slot.reset(open_converter(encoding));
    ucnv_reset(slot.get());
    return slot.get();
}

bool all_ascii(std::span<const u8> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](u8 b) { return b < 0x80; });
}

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool is_private_use(char32_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// The one code point ICU reports for a whole byte sequence, or nothing.
std::optional<char32_t> icu_code_point(std::span<const u8> bytes) {
    UChar units[4];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter_for(TextEncoding::Gbk), units, 4,
                                         reinterpret_cast<const char*>(bytes.data()),
                                         static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status) || length < 1) return std::nullopt;
    UChar32 c = 0;
    int32_t i = 0;
    U16_NEXT(units, i, length, c);
    if (i != length || U_IS_SURROGATE(c)) return std::nullopt;
    return static_cast<char32_t>(c);
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvPtr = std::unique_ptr<void, IconvCloser>;

// The C library's GB18030 tables, asked only where ICU's may be older: the
// 2022 edition gave eighteen two-byte codes, which older tables map into the
// private use area, their standard code points. Opened once per thread; null
// when the library has no such converter.
iconv_t libc_converter(bool to_unicode) {
    thread_local IconvPtr decoder, encoder;
    thread_local bool opened = false;
    if (!opened) {
        opened = true;
        const iconv_t none = reinterpret_cast<iconv_t>(-1);
        if (iconv_t d = iconv_open("UTF-32LE", "GB18030"); d != none) decoder.reset(d);
        if (iconv_t e = iconv_open("GB18030", "UTF-32LE"); e != none) encoder.reset(e);
    }
    return to_unicode ? decoder.get() : encoder.get();
}

// Converts all of `in` with the C library; the number of bytes written to
// `out`, or nothing when it failed.
std::optional<size_t> libc_convert(bool to_unicode, std::span<const u8> in, std::span<u8> out) {
    iconv_t cd = libc_converter(to_unicode);
    u8 input[8];
    if (!cd || in.size() > sizeof input) return std::nullopt;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::copy(in.begin(), in.end(), input);
    char* in_cursor = reinterpret_cast<char*>(input);
    char* out_cursor = reinterpret_cast<char*>(out.data());
    size_t in_left = in.size(), out_left = out.size();
    if (iconv(cd, &in_cursor, &in_left, &out_cursor, &out_left) == static_cast<size_t>(-1) || in_left != 0) {
        return std::nullopt;
    }
    return out.size() - out_left;
}

std::optional<char32_t> libc_code_point(std::span<const u8> bytes) {
    u8 out[8];
    if (libc_convert(true, bytes, out) != 4u) return std::nullopt;
    return static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (u32{out[3]} << 24));
}

// GBK's two-byte code (lead, trail), both in range, as the web reads it:
// GB18030's table with the 2022 edition's move of eighteen codes out of the
// private use area, and 0xA3 0xA0 read as the ideographic space, as deployed
// pages expect.
std::optional<char32_t> two_byte_code_point(u8 lead, u8 trail) {
    if (lead == 0xA3 && trail == 0xA0) return 0x3000;
    const u8 bytes[2] = {lead, trail};
    const std::optional<char32_t> c = icu_code_point(bytes);
    if (!c || !is_private_use(*c)) return c;
    const std::optional<char32_t> moved = libc_code_point(bytes);
    if (moved && *moved < 0x10000 && !is_private_use(*moved) && !U_IS_SURROGATE(*moved)) return moved;
    return c;
}

// The four-byte sequence b: its linear number selects a code point of the
// basic plane left out of the two-byte table or, from 189000 on, one of the
// supplementary planes; numbers between and beyond stand for nothing.
std::optional<char32_t> four_byte_code_point(std::span<const u8, 4> b) {
    const u32 pointer = (((b[0] - 0x81u) * 10 + (b[1] - 0x30u)) * 126 + (b[2] - 0x81u)) * 10 + (b[3] - 0x30u);
    if ((pointer > 39419 && pointer < 189000) || pointer > 1237575) return std::nullopt;
    return icu_code_point(b);
}

bool in_range(u8 b, u8 low, u8 high) { return b >= low && b <= high; }

bool is_trail(u8 b) { return in_range(b, 0x40, 0x7E) || in_range(b, 0x80, 0xFE); }

// Text is mostly runs of two-byte codes; ICU converts such a run in one call
// (each code gives one basic-plane unit), and only the codes corrected above
// are looked at again. The number of bytes taken, 0 when ICU would not map the
// whole run (then the codes go one by one).
size_t convert_two_byte_run(std::span<const u8> bytes, std::u32string& out) {
    size_t length = 0;
    while (length + 1 < bytes.size() && in_range(bytes[length], 0x81, 0xFE) && is_trail(bytes[length + 1])) {
        length += 2;
    }
    if (length == 0) return 0;
    UChar units[256];
    length = std::min(length, 2 * std::size(units));
    UErrorCode status = U_ZERO_ERROR;
    const int32_t count =
        ucnv_toUChars(converter_for(TextEncoding::Gbk), units, static_cast<int32_t>(std::size(units)),
                      reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(length), &status);
    if (U_FAILURE(status) || static_cast<size_t>(count) != length / 2) return 0;
    for (size_t k = 0; k < length / 2; ++k) {
        const char32_t c = units[k];
        const bool corrected = is_private_use(c) || (bytes[2 * k] == 0xA3 && bytes[2 * k + 1] == 0xA0);
        if (U_IS_SURROGATE(c)) return 0;
        out.push_back(corrected ? two_byte_code_point(bytes[2 * k], bytes[2 * k + 1]).value_or(c) : c);
    }
    return length;
}

// Walks GBK (with GB18030's four-byte forms) the way the web's decoder does:
// a malformed sequence gives one U+FFFD and the bytes that may start
// something else are read again; an ASCII byte is never swallowed, except a
// digit ending a four-byte form that stands for nothing.
std::u32string decode_gbk(std::span<const u8> bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const u8 lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if (lead == 0x80 || lead == 0xFF) {
            out.push_back(lead == 0x80 ? 0x20AC : kReplacementCharacter);  // GBK's single-byte euro sign
            ++i;
            continue;
        }
        if (i + 1 == n) {
            out.push_back(kReplacementCharacter);
            break;
        }
        const u8 second = bytes[i + 1];
        if (in_range(second, 0x30, 0x39)) {
            if (i + 2 == n || (in_range(bytes[i + 2], 0x81, 0xFE) && i + 3 == n)) {
                out.push_back(kReplacementCharacter);  // cut short by the end: one replacement for all
                break;
            }
            if (!in_range(bytes[i + 2], 0x81, 0xFE) || !in_range(bytes[i + 3], 0x30, 0x39)) {
                out.push_back(kReplacementCharacter);
                ++i;  // read again from the second byte
                continue;
            }
            const std::optional<char32_t> c = four_byte_code_point(bytes.subspan(i).first<4>());
            out.push_back(c.value_or(kReplacementCharacter));
            i += 4;
            continue;
        }
        if (const size_t run = convert_two_byte_run(bytes.subspan(i), out); run > 0) {
            i += run;
            continue;
        }
        std::optional<char32_t> c;
        if (is_trail(second)) c = two_byte_code_point(lead, second);
        out.push_back(c.value_or(kReplacementCharacter));
        i += (c || second >= 0x80) ? 2 : 1;
    }
    return out;
}

std::string to_utf8(const std::u32string& code_points) {
    std::string out;
    out.reserve(code_points.size() * 3);
    for (const char32_t c : code_points) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace

std::string decode_text(std::span<const u8> bytes, TextEncoding encoding) {
    if (bytes.empty()) return {};
    if ((encoding == TextEncoding::Utf8 || encoding == TextEncoding::Gbk) && all_ascii(bytes)) {
        return std::string(bytes.begin(), bytes.end());
    }
    if (encoding == TextEncoding::Gbk) return to_utf8(decode_gbk(bytes));

    UConverter* converter = converter_for(encoding);
    // Every input byte gives at most one UTF-16 unit (a replaced fragment gives
    // one U+FFFD); the margin keeps the converter clear of the buffer's end.
    std::u16string utf16(bytes.size() * 2 + 4, u'\0');
    const char* source = reinterpret_cast<const char*>(bytes.data());
    const char* source_end = source + bytes.size();
    UChar* target = reinterpret_cast<UChar*>(utf16.data());
    UChar* target_end = target + utf16.size();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, target_end, &source, source_end, nullptr, true, &status);
    if (U_FAILURE(status)) return std::string("\xEF\xBF\xBD");
    utf16.resize(static_cast<size_t>(target - reinterpret_cast<UChar*>(utf16.data())));

    std::string out(utf16.size() * 3, '\0');
    int32_t out_length = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &out_length,
                       reinterpret_cast<const UChar*>(utf16.data()), static_cast<int32_t>(utf16.size()), 0xFFFD,
                       nullptr, &status);
    if (U_FAILURE(status)) return std::string("\xEF\xBF\xBD");
    out.resize(static_cast<size_t>(out_length));
    return out;
}

bool encode_gbk_code_point(char32_t c, std::vector<u8>& out) {
    if (c < 0x80) {
        out.push_back(static_cast<u8>(c));
        return true;
    }
    if (c == 0x20AC) {  // the euro sign has a single byte of its own in GBK
        out.push_back(0x80);
        return true;
    }
    // U+E5E5's bytes read as the ideographic space, so it has no form.
    if (c == 0xE5E5 || c > 0x10FFFF || U_IS_SURROGATE(c)) return false;
    // A two-byte code is right when it reads back as c, or when c is the
    // private-use point the code stood for before it moved out of that area.
    auto reads_back = [c](const u8* bytes, size_t length) {
        if (length != 2) return false;  // four-byte forms are GB18030's own
        const std::optional<char32_t> back = two_byte_code_point(bytes[0], bytes[1]);
        return back && (*back == c || (is_private_use(c) && !is_private_use(*back)));
    };
    UChar units[2];
    int32_t length = 0;
    // c is a scalar value (checked above), so it always fits in two units.
    U16_APPEND_UNSAFE(units, length, static_cast<UChar32>(c));
    char icu_bytes[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t written =
        ucnv_fromUChars(converter_for(TextEncoding::Gbk), icu_bytes, sizeof icu_bytes, units, length, &status);
    std::array<u8, 8> bytes{};
    size_t byte_count = 0;
    if (U_SUCCESS(status) && written > 0 && written <= 4) {
        std::copy(icu_bytes, icu_bytes + written, bytes.begin());
        byte_count = static_cast<size_t>(written);
    }
    if (!reads_back(bytes.data(), byte_count)) {
        // ICU's tables may predate the code's move; ask the C library's.
        const u8 utf32[4] = {static_cast<u8>(c), static_cast<u8>(c >> 8), static_cast<u8>(c >> 16), 0};
        const std::optional<size_t> libc_count = libc_convert(false, utf32, bytes);
        if (!libc_count || !reads_back(bytes.data(), *libc_count)) return false;
    }
    out.insert(out.end(), bytes.begin(), bytes.begin() + 2);
    return true;
}

std::string decode_marked_text(std::span<const u8> bytes) {
    if (bytes.size() > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return decode_text(bytes.subspan(3), TextEncoding::Utf8);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return decode_text(bytes.subspan(2), TextEncoding::Utf16Le);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return decode_text(bytes.subspan(2), TextEncoding::Utf16Be);
    }
    return decode_text(bytes, TextEncoding::Gbk);
}

}  // namespace tarvel
