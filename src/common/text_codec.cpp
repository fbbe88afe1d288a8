#include "common/text_codec.hpp"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <memory>
#include <vector>

namespace tarvel::text_codec {

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Every sequence the converter cannot decode becomes one U+FFFD. The GB18030
// converter leaves the single byte 0x80 unmapped; the GBK decoder of the
// Encoding Standard reads it as the euro sign.
void replace_malformed(const void* context, UConverterToUnicodeArgs* args, const char* code_units, int32_t length,
                       UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close and clone need nothing
    const bool gbk = context != nullptr;
    const UChar substitute = gbk && length == 1 && static_cast<u8>(code_units[0]) == 0x80 ? 0x20AC : 0xFFFD;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &substitute, 1, 0, error);
}

const char* converter_name(Charset charset) {
    switch (charset) {
        case Charset::Utf8: return "UTF-8";
        case Charset::Utf16Le: return "UTF-16LE";
        case Charset::Utf16Be: return "UTF-16BE";
        case Charset::Gbk: return "GB18030";
    }
    return "UTF-8";
}

// One converter per character set, opened on first use and kept: text is
// decoded many times per frame. All calls come from the core's one thread;
// thread_local keeps a second thread (a test runner, say) from sharing state.
UConverter* converter(Charset charset) {
    thread_local ConverterPtr converters[4];
    ConverterPtr& slot = converters[static_cast<size_t>(charset)];
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* opened = ucnv_open(converter_name(charset), &status);
        if (U_FAILURE(status) || !opened) return nullptr;
        slot.reset(opened);
        status = U_ZERO_ERROR;
        static const int kGbkContext = 1;
        ucnv_setToUCallBack(opened, replace_malformed, charset == Charset::Gbk ? &kGbkContext : nullptr, nullptr,
                            nullptr, &status);
    }
    ucnv_reset(slot.get());
    return slot.get();
}

std::u32string utf16_to_code_points(const UChar* units, int32_t length) {
    std::u32string out;
    out.reserve(static_cast<size_t>(length));
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U16_NEXT(units, i, length, c);
        out.push_back(U_IS_SURROGATE(c) ? kReplacement : static_cast<char32_t>(c));
    }
    return out;
}

bool is_scalar_value(char32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

}  // namespace

std::u32string decode(std::span<const u8> bytes, Charset charset) {
    if (bytes.empty()) return {};
    UConverter* conv = converter(charset);
    if (!conv) return std::u32string(1, kReplacement);  // ICU without its data; nothing sensible to show
    // Each input byte yields at most one UTF-16 unit (a four-byte GB18030 or
    // UTF-8 sequence gives two), so the input length bounds the output.
    std::vector<UChar> units(bytes.size() + 4);
    const char* source = reinterpret_cast<const char*>(bytes.data());
    const char* const source_end = source + bytes.size();
    UChar* target = units.data();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(conv, &target, units.data() + units.size(), &source, source_end, nullptr, true, &status);
    if (U_FAILURE(status)) return std::u32string(1, kReplacement);
    return utf16_to_code_points(units.data(), static_cast<int32_t>(target - units.data()));
}

MarkedCharset detect_byte_order_mark(std::span<const u8> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return {Charset::Utf8, 3};
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return {Charset::Utf16Le, 2};
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return {Charset::Utf16Be, 2};
    return {Charset::Gbk, 0};
}

std::u32string decode_marked(std::span<const u8> bytes) {
    const MarkedCharset marked = detect_byte_order_mark(bytes);
    return decode(bytes.subspan(marked.mark_length), marked.charset);
}

std::string to_utf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (!is_scalar_value(c)) c = kReplacement;
        u8 buffer[4];
        int32_t length = 0;
        U8_APPEND_UNSAFE(buffer, length, c);
        out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
    }
    return out;
}

std::u16string to_utf16(std::u32string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (!is_scalar_value(c)) c = kReplacement;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(U16_LEAD(c)));
            out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

}  // namespace tarvel::text_codec
