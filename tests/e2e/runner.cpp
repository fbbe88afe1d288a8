#include "e2e/runner.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
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

WavLevel measure_wav(const std::string& bytes) {
    WavLevel level;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto le = [&](size_t at, int n) {
        unsigned long v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | p[at + i];
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return level;
    unsigned format = 0, bits = 0;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const size_t size = le(at + 4, 4);
        const size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            format = static_cast<unsigned>(le(body, 2));
            level.channels = static_cast<unsigned>(le(body + 2, 2));
            level.rate = static_cast<unsigned>(le(body + 4, 4));
            bits = static_cast<unsigned>(le(body + 14, 2));
            if (format == 0xFFFE && size >= 26 && body + 26 <= bytes.size()) format = static_cast<unsigned>(le(body + 24, 2));
        } else if (id == "data") {
            // A writer that never finished its header leaves the size 0 or too large.
            const size_t end = size == 0 || body + size > bytes.size() ? bytes.size() : body + size;
            const bool pcm16 = format == 1 && bits == 16, float32 = format == 3 && bits == 32;
            if (!pcm16 && !float32) return level;
            level.valid = true;
            for (size_t i = body; i + bits / 8 <= end; i += bits / 8) {
                double v = 0;
                if (pcm16) {
                    v = static_cast<int16_t>(le(i, 2)) / 32768.0;
                } else {
                    const uint32_t word = static_cast<uint32_t>(le(i, 4));
                    float f;
                    std::memcpy(&f, &word, 4);
                    v = f;
                }
                ++level.samples;
                level.nonzero += v != 0;
                level.peak = std::max(level.peak, std::abs(v));
            }
            return level;
        }
        at = body + size + (size & 1);
    }
    return level;
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
