#pragma once
// The byte-string library (group 6): the parts that are worth reaching on
// their own, beside the group handler declared in service_groups.hpp.

#include <string>
#include <string_view>

#include "common/bytes.hpp"

namespace tarvel::machine {
struct TarvelMachine;
}

namespace tarvel::machine::services {

// Widths above this are taken as this: "%2000000000d" must not make the
// service write gigabytes of padding into the guest.
inline constexpr u32 kFormatWidthLimit = 4096;

// A decimal integer in `text` (UTF-8, invalid sequences count as U+FFFD):
// Unicode white space trimmed from both ends, an optional + or -, then ASCII
// digits only. Anything else, no digits, or a value outside the signed 32-bit
// range gives 0.
i32 parse_decimal_integer(std::string_view text);

// The output of the format routine for `format`, taking argument k of the
// current service call from service_arg(first_argument + k). No NUL is added.
std::string format_guest_text(TarvelMachine& machine, std::string_view format, unsigned first_argument);

}  // namespace tarvel::machine::services
