#include "command_line.hpp"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace tarvel_run {

const char* usage_text() {
    return "usage: tarvel-run [options] FILE.cbe\n"
           "  -n N            run N video frames (default 300, five seconds)\n"
           "  -o KEY=VALUE    set a core option, e.g. -o tarvel_screen_orientation=landscape\n"
           "  -s DIR          offer DIR as the frontend's system directory\n"
           "  -c CORE.so      load this core library instead of the built one\n"
           "  -h              show this text\n";
}

std::variant<RunRequest, ShowUsage, std::string> parse_command_line(int argc, char** argv) {
    RunRequest request;
    request.core_path = TARVEL_DEFAULT_CORE;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "-h" || arg == "--help") return ShowUsage{};
        if (arg == "-n") {
            const char* text = value();
            if (!text) return std::string("-n needs a number of frames");
            char* end = nullptr;
            errno = 0;
            long frames = std::strtol(text, &end, 10);
            if (errno != 0 || end == text || *end != '\0' || frames < 0)
                return "-n needs a number of frames, not \"" + std::string(text) + "\"";
            request.frames = frames;
        } else if (arg == "-o") {
            const char* text = value();
            std::string_view pair = text ? text : "";
            auto eq = pair.find('=');
            if (eq == std::string_view::npos || eq == 0) return std::string("-o needs KEY=VALUE");
            request.options[std::string(pair.substr(0, eq))] = std::string(pair.substr(eq + 1));
        } else if (arg == "-s") {
            const char* text = value();
            if (!text) return std::string("-s needs a directory");
            request.system_directory = text;
        } else if (arg == "-c") {
            const char* text = value();
            if (!text) return std::string("-c needs the path of a core library");
            request.core_path = text;
        } else if (!arg.empty() && arg[0] == '-') {
            return "unknown argument " + std::string(arg);
        } else if (request.content_path.empty()) {
            request.content_path = std::string(arg);
        } else {
            return std::string("give one content file only");
        }
    }
    if (request.content_path.empty()) return std::string("no content file given");
    return request;
}

}  // namespace tarvel_run
