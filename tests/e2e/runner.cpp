#include "e2e/runner.hpp"

#include <fmt/format.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "e2e/golden.hpp"

namespace tarvel::e2e {

std::optional<RunSummary> parse_summary(const std::string& output) {
    static const std::regex line(
        R"(tarvel-run: (\d+) frames, (\d+) ticks, (\d+) guest instructions, ([0-9.]+) ms per frame on average, )"
        R"(([0-9.]+) ms at worst)");
    std::smatch match;
    if (!std::regex_search(output, match, line)) return std::nullopt;
    RunSummary summary;
    summary.frames = std::stol(match[1]);
    summary.ticks = std::stoull(match[2]);
    summary.instructions = std::stoull(match[3]);
    summary.mean_ms = std::stod(match[4]);
    summary.worst_ms = std::stod(match[5]);
    return summary;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

RunOutcome run_tarvel(const RunSpec& spec) {
    test::TempDir dir;
    std::vector<std::string> argv{TARVEL_RUN_EXE, "-c", TARVEL_CORE_LIBRARY, "-n", std::to_string(spec.frames)};
    argv.insert(argv.end(), spec.arguments.begin(), spec.arguments.end());
    for (const auto& [frame, name] : spec.screenshots)
        argv.push_back(fmt::format("--screenshot={}:{}/{}.png", frame, dir.path(), name));
    if (spec.screenshot_at_end) argv.push_back(fmt::format("--screenshot=end:{}/end.png", dir.path()));
    if (spec.wav) argv.push_back(fmt::format("--wav={}/audio.wav", dir.path()));
    if (!spec.content.empty()) argv.push_back(spec.content);

    RunOutcome outcome;
    outcome.process = run_process(argv, dir.path() + "/output.txt");
    outcome.summary = parse_summary(outcome.process.output);
    for (const auto& [frame, name] : spec.screenshots) {
        tarvel_run::Picture picture;
        std::string error;
        if (tarvel_run::read_png(dir.path() + "/" + name + ".png", picture, error)) outcome.shots[name] = picture;
    }
    if (spec.screenshot_at_end) {
        tarvel_run::Picture picture;
        std::string error;
        if (tarvel_run::read_png(dir.path() + "/end.png", picture, error)) outcome.shots["end"] = picture;
    }
    if (spec.wav) outcome.wav = read_file(dir.path() + "/audio.wav");
    return outcome;
}

}  // namespace tarvel::e2e
