#include "command_line.hpp"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tarvel_run {
namespace {

#ifndef TARVEL_DEFAULT_CONTENT
#define TARVEL_DEFAULT_CONTENT ""
#endif

bool read_file(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

}  // namespace

const char* usage_text() {
    return "usage: tarvel-run [options] [FILE.cbe]\n"
           "Runs FILE.cbe (the demo application when no file is given) in the Tarvel core\n"
           "without a window, prints the core's log lines and ends with a summary line.\n"
           "\n"
           "  -n N                  run N video frames (default 300, five seconds)\n"
           "  -o KEY=VALUE          set a core option, e.g. -o tarvel_screen_orientation=landscape\n"
           "  -s DIR                offer DIR as the frontend's system directory\n"
           "  -S DIR                offer DIR as the frontend's save directory (where games keep their files)\n"
           "  -c CORE.so            load this core library instead of the built one\n"
           "  -v, --verbose         also print the core's debug lines\n"
           "\n"
           "Input (frames count from 1; FRAMES defaults to 6, one application tick):\n"
           "  --press FRAME:BUTTON[:FRAMES]   hold a joypad button: b y select start up down\n"
           "                                  left right a x l r l2 r2 l3 r3\n"
           "  --key FRAME:KEY[:FRAMES]        hold a keyboard key: a letter, a digit, return, space,\n"
           "                                  escape, backspace, tab, up, down, left, right\n"
           "                                  (the core reads q e f n m, wasd, the arrows and digits)\n"
           "  --touch FRAME:X:Y[:FRAMES]      touch the screen at pixel (X, Y) of the presented frame\n"
           "  --drag FRAME:X0:Y0:X1:Y1:FRAMES move a touch in a straight line over FRAMES frames\n"
           "  --script FILE                   read events from FILE, one a line, words separated by\n"
           "                                  blanks, '#' starts a comment:\n"
           "                                    press FRAME BUTTON [FRAMES]\n"
           "                                    key FRAME KEY [FRAMES]\n"
           "                                    touch FRAME X Y [FRAMES]\n"
           "                                    drag FRAME X0 Y0 X1 Y1 FRAMES\n"
           "                                    screenshot FRAME|end PATH\n"
           "\n"
           "Output:\n"
           "  --screenshot FRAME:PATH   write the frame presented by frame FRAME as a PNG;\n"
           "                            FRAME \"end\" means the last frame of the run\n"
           "  --wav PATH                write the core's audio as a 16-bit stereo WAV file\n"
           "\n"
           "The summary's ticks and guest instructions come from a debug line the core logs\n"
           "when the game is unloaded, so tarvel-run turns the core's debug logging on unless\n"
           "-o tarvel_debug_logging=... says otherwise; debug lines are shown only with -v.\n"
           "Exit status: 0 after a run, 1 when the core did not load the file, 2 for bad\n"
           "arguments or files that could not be written.\n"
           "  -h, --help            show this text\n";
}

std::variant<RunRequest, ShowUsage, std::string> parse_command_line(int argc, char** argv) {
    RunRequest request;
    request.core_path = TARVEL_DEFAULT_CORE;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        // Long options take their value as the next argument or after '='.
        std::optional<std::string> inline_value;
        if (arg.starts_with("--")) {
            if (auto eq = arg.find('='); eq != std::string_view::npos) {
                inline_value = std::string(arg.substr(eq + 1));
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&]() -> const char* {
            if (inline_value) return inline_value->c_str();
            return i + 1 < argc ? argv[++i] : nullptr;
        };
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
        } else if (arg == "-S") {
            const char* text = value();
            if (!text) return std::string("-S needs a directory");
            request.save_directory = text;
        } else if (arg == "-c") {
            const char* text = value();
            if (!text) return std::string("-c needs the path of a core library");
            request.core_path = text;
        } else if (arg == "-v" || arg == "--verbose") {
            request.verbose = true;
        } else if (arg == "--press" || arg == "--key" || arg == "--touch" || arg == "--drag" ||
                   arg == "--screenshot") {
            const char* text = value();
            if (!text) return std::string(arg) + " needs a value (see --help)";
            if (auto error = add_option_event(request.script, arg.substr(2), text)) return *error;
        } else if (arg == "--script") {
            const char* path = value();
            if (!path) return std::string("--script needs a file");
            std::string text;
            if (!read_file(path, text)) return "cannot read the script " + std::string(path);
            if (auto error = add_script_text(request.script, text, path)) return *error;
        } else if (arg == "--wav") {
            const char* path = value();
            if (!path || !*path) return std::string("--wav needs a file");
            request.wav_path = path;
        } else if (!arg.empty() && arg[0] == '-') {
            return "unknown argument " + std::string(argv[i]);
        } else if (request.content_path.empty()) {
            request.content_path = std::string(arg);
        } else {
            return std::string("give one content file only");
        }
    }
    for (const Screenshot& shot : request.script.screenshots)
        if (shot.frame != kLastFrame && shot.frame > request.frames)
            return "a screenshot at frame " + std::to_string(shot.frame) + " comes after the last frame (" +
                   std::to_string(request.frames) + ")";
    if (request.content_path.empty()) {
        request.content_path = TARVEL_DEFAULT_CONTENT;
        if (request.content_path.empty())
            return std::string("no content file given, and this build has no demo application to run instead");
    }
    return request;
}

}  // namespace tarvel_run
