#include "common/utf8.hpp"

#include <unicode/utf8.h>

#include <fmt/format.h>

namespace tarvel::utf8 {

std::string DecodeError::describe() const { return fmt::format("invalid UTF-8 sequence at byte {}", offset); }

std::optional<DecodeError> validate(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int64_t>(text.size());
    int64_t i = 0;
    while (i < length) {
        int64_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return DecodeError{static_cast<size_t>(start)};
    }
    return std::nullopt;
}

std::string replace_invalid(std::string_view text) {
    if (is_valid(text)) return std::string(text);
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int64_t>(text.size());
    std::string out;
    out.reserve(text.size() + 8);
    int64_t i = 0;
    while (i < length) {
        int64_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            out += kReplacement;
        else
            out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
    return out;
}

}  // namespace tarvel::utf8
