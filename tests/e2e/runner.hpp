#pragma once
// tarvel-run as the tests drive it: a separate process that loads the built
// core library, with scripted input, screenshots and audio written into a
// fresh folder.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/subprocess.hpp"
#include "support/temp_dir.hpp"
#include "png_image.hpp"

namespace tarvel::e2e {

struct RunSummary {
    long frames = 0;
    unsigned long long ticks = 0;
    unsigned long long instructions = 0;
    double mean_ms = 0;
    double worst_ms = 0;
};

// Reads tarvel-run's closing summary line.
std::optional<RunSummary> parse_summary(const std::string& output);

struct RunSpec {
    std::string content;
    long frames = 60;
    std::vector<std::string> arguments;        // more tarvel-run arguments (input, options)
    std::map<long, std::string> screenshots;   // frame -> name
    bool screenshot_at_end = true;             // the last frame, named "end"
    bool wav = false;
};

struct RunOutcome {
    ProcessResult process;
    std::optional<RunSummary> summary;
    std::map<std::string, tarvel_run::Picture> shots;  // by name
    std::string wav;                                   // the WAV file's bytes
};

RunOutcome run_tarvel(const RunSpec& spec);

// Reads a whole file as bytes ("" when missing).
std::string read_file(const std::string& path);

// How loud a WAV file is: its samples (16-bit PCM or 32-bit float, any
// channel count), how many of them are not zero, and the largest magnitude
// (0..1). `valid` is false when the bytes are not such a file.
struct WavLevel {
    bool valid = false;
    unsigned channels = 0;
    unsigned rate = 0;
    size_t samples = 0;
    size_t nonzero = 0;
    double peak = 0;
};
WavLevel measure_wav(const std::string& bytes);

}  // namespace tarvel::e2e
