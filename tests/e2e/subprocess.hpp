#pragma once
// Runs a program as a child process and collects what it printed.

#include <map>
#include <string>
#include <vector>

namespace tarvel::e2e {

struct ProcessResult {
    int exit_code = -1;  // -1 when it could not be started or ended by a signal
    std::string output;  // standard output and standard error, interleaved
};

// Runs `argv` (argv[0] is the program's path) with the current environment
// plus `environment` (which overrides), in `directory` when it is not empty.
// The output goes through `log_path`, which is kept for inspection.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& log_path,
                          const std::map<std::string, std::string>& environment = {},
                          const std::string& directory = "");

}  // namespace tarvel::e2e
