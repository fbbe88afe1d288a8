#include "common/text_encoding.hpp"

#include <algorithm>
#include <memory>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

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

// The GB18030 converter rejects a lone 0x80, which the web's GBK decoder reads
// as U+20AC; everything else malformed is replaced as usual.
void gbk_to_unicode_callback(const void*, UConverterToUnicodeArgs* args, const char* code_units, int32_t length,
                             UConverterCallbackReason reason, UErrorCode* status) {
    if (reason != UCNV_ILLEGAL && reason != UCNV_UNASSIGNED && reason != UCNV_IRREGULAR) return;
    if (length == 1 && static_cast<u8>(code_units[0]) == 0x80) {
        static const UChar euro = 0x20AC;
        *status = U_ZERO_ERROR;
        ucnv_cbToUWriteUChars(args, &euro, 1, 0, status);
        return;
    }
    UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, args, code_units, length, reason, status);
}

UConverter* open_converter(TextEncoding encoding) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(converter_name(encoding), &status);
    if (U_FAILURE(status) || !converter) std::abort();  // the converters ship with ICU's data
    if (encoding == TextEncoding::Gbk) {
        ucnv_setToUCallBack(converter, gbk_to_unicode_callback, nullptr, nullptr, nullptr, &status);
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

}  // namespace

std::string decode_text(std::span<const u8> bytes, TextEncoding encoding) {
    if (bytes.empty()) return {};
    if ((encoding == TextEncoding::Utf8 || encoding == TextEncoding::Gbk) && all_ascii(bytes)) {
        return std::string(bytes.begin(), bytes.end());
    }

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
