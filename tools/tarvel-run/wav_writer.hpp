#pragma once
// The core's audio as a WAV file: 16-bit PCM, interleaved stereo, written as
// it arrives; the sizes in the header are filled in when the file is closed.

#include <cstdint>
#include <cstdio>
#include <string>

namespace tarvel_run {

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Returns an error message, or an empty string once the file is open.
    std::string open(const std::string& path, unsigned sample_rate);
    // Appends `frames` stereo frames (2 x frames samples).
    void write(const int16_t* samples, size_t frames);
    // Completes the header; returns an error message or an empty string.
    std::string close();

    bool is_open() const { return file_ != nullptr; }
    uint64_t frames_written() const { return frames_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    unsigned sample_rate_ = 44100;
    uint64_t frames_ = 0;
    bool failed_ = false;
};

}  // namespace tarvel_run
