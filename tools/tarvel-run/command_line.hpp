#pragma once
// What tarvel-run was asked to do.

#include <map>
#include <optional>
#include <string>
#include <variant>

#include "input_script.hpp"

namespace tarvel_run {

struct RunRequest {
    std::string core_path;
    std::string content_path;  // the demo when none is given (if the build has it)
    long frames = 300;
    std::map<std::string, std::string> options;  // core option key -> value
    std::optional<std::string> system_directory;
    std::optional<std::string> save_directory;
    InputScript script;
    std::optional<std::string> wav_path;
    bool verbose = false;  // also print the core's debug lines
};

struct ShowUsage {};

// A request, a request for the usage text, or a message about bad arguments.
// Script files named with --script are read here.
std::variant<RunRequest, ShowUsage, std::string> parse_command_line(int argc, char** argv);

const char* usage_text();

}  // namespace tarvel_run
