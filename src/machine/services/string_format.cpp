// The format routine of the byte-string library: a small printf that knows
// d i u x X c s, a "0" pad flag and a width, and nothing else. A "-" or "."
// is no flag here: it is taken as an unknown conversion, which prints itself
// (and still uses up an argument), exactly as the platform's routine does.

#include <algorithm>

#include <fmt/format.h>

#include "memory/guest_memory.hpp"
#include "memory/guest_strings.hpp"
#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/string_memory.hpp"
#include "machine/services/strings.hpp"

namespace tarvel::machine::services {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The text of one conversion, before padding.
std::string convert(TarvelMachine& m, char conversion, u32 argument) {
    switch (conversion) {
        case 'd':
        case 'i': return fmt::format("{}", static_cast<i32>(argument));
        case 'u': return fmt::format("{}", argument);
        case 'x': return fmt::format("{:x}", argument);
        case 'X': return fmt::format("{:X}", argument);
        case 'c': return std::string(1, static_cast<char>(argument & 0xFF));
        case 's': return read_byte_string(m.memory, argument, kTextLimit);
        default: return std::string{'%', conversion};
    }
}

}  // namespace

std::string format_guest_text(TarvelMachine& m, std::string_view format, unsigned first_argument) {
    std::string out;
    out.reserve(format.size());
    unsigned next_argument = first_argument;
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i++];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        const size_t directive_start = i;  // just after the '%'
        char pad = ' ';
        if (i < format.size() && format[i] == '0') {
            pad = '0';
            ++i;
        }
        u32 width = 0;
        while (i < format.size() && is_digit(format[i])) {
            width = std::min<u32>(width * 10 + static_cast<u32>(format[i] - '0'), kFormatWidthLimit);
            ++i;
        }
        while (i < format.size() && (format[i] == 'l' || format[i] == 'h')) ++i;
        if (i == format.size()) break;  // an unfinished directive ends the output
        const char conversion = format[i++];
        std::string text;
        // Only a plain "%%" is a percent sign, taking no argument; every other
        // conversion, known or not, "%5%" included, takes one (and "%5%"
        // prints "   %%" as any unknown conversion prints itself).
        if (conversion == '%' && i == directive_start + 1) text = "%";
        else text = convert(m, conversion, service_arg(m, next_argument++));
        // The padding goes before the whole text, a minus sign included.
        if (text.size() < width) out.append(width - text.size(), pad);
        out += text;
    }
    return out;
}

}  // namespace tarvel::machine::services
