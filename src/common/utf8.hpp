#pragma once
// UTF-8 checks for text that crosses the host boundary (paths, frontend
// strings, log lines). Validation is strict: no overlong forms, no surrogates,
// nothing above U+10FFFF.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel::utf8 {

// Why a byte string is not UTF-8: the offset of the first byte that does not
// start a well-formed sequence.
struct DecodeError {
    size_t offset = 0;
    std::string describe() const;
};

// nullopt when `text` is well-formed UTF-8.
std::optional<DecodeError> validate(std::string_view text);
inline bool is_valid(std::string_view text) { return !validate(text).has_value(); }

// Copies `text`, putting U+FFFD in place of each maximal ill-formed subpart.
std::string replace_invalid(std::string_view text);

}  // namespace tarvel::utf8
