#include "resource_header.hpp"

#include <fmt/format.h>

namespace tarvel::pack {

std::string resource_header(const ResourcePackage& resources) {
    std::string out =
        "/* Resource numbers of the packed program; written by cbe-pack. */\n"
        "#ifndef TV_RESOURCE_NUMBERS_H\n#define TV_RESOURCE_NUMBERS_H\n\n";
    for (size_t i = 0; i < resources.main_names.size(); ++i) {
        std::string id;
        for (char c : resources.main_names[i]) {
            if (c >= 'a' && c <= 'z') id += static_cast<char>(c - 'a' + 'A');
            else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) id += c;
            else id += '_';
        }
        out += fmt::format("#define TV_RES_{} {}\n", id, i);
    }
    out += fmt::format("#define TV_RES_COUNT {}\n\n#endif\n", resources.main_names.size());
    return out;
}

}  // namespace tarvel::pack
