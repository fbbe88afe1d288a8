#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <memory>

#include "asset_writer.hpp"

namespace tarvel::assets {

Result<std::vector<u8>> gbk_text_from_utf8(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t units = 0;
    u_strFromUTF8(nullptr, 0, &units, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return Error("the text is not valid UTF-8");
    std::u16string wide(static_cast<size_t>(units), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(wide.data(), units, nullptr, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
    if (U_FAILURE(status)) return Error("the text is not valid UTF-8");

    std::unique_ptr<UConverter, void (*)(UConverter*)> gbk(ucnv_open("GBK", &status), &ucnv_close);
    if (U_FAILURE(status) || !gbk) return Error("ICU has no GBK converter");
    ucnv_setFromUCallBack(gbk.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    std::vector<u8> out(wide.size() * 2 + 1);
    const int32_t length = ucnv_fromUChars(gbk.get(), reinterpret_cast<char*>(out.data()),
                                           static_cast<int32_t>(out.size()), wide.data(),
                                           static_cast<int32_t>(wide.size()), &status);
    if (U_FAILURE(status)) return Error("the text has characters that GBK cannot hold");
    out.resize(static_cast<size_t>(length));
    out.push_back(0);
    return out;
}

}  // namespace tarvel::assets
