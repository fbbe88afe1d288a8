#include "e2e/subprocess.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tarvel::e2e {

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& log_path,
                          const std::map<std::string, std::string>& environment, const std::string& directory) {
    ProcessResult result;
    if (argv.empty()) return result;

    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : environment) merged[key] = value;
    std::vector<std::string> env_strings;
    for (const auto& [key, value] : merged) env_strings.push_back(key + "=" + value);
    std::vector<char*> env_pointers;
    for (auto& s : env_strings) env_pointers.push_back(s.data());
    env_pointers.push_back(nullptr);

    std::vector<std::string> args = argv;
    std::vector<char*> arg_pointers;
    for (auto& s : args) arg_pointers.push_back(s.data());
    arg_pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());

    pid_t pid = 0;
    int spawned = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, arg_pointers.data(), env_pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.output = "cannot start " + args[0] + ": " + std::strerror(spawned);
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);

    std::ifstream in(log_path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    result.output = text.str();
    return result;
}

}  // namespace tarvel::e2e
