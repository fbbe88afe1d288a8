#include "wav_writer.hpp"

#include <algorithm>
#include <array>

namespace tarvel_run {
namespace {

constexpr unsigned kChannels = 2;
constexpr unsigned kBytesPerSample = 2;
constexpr unsigned kHeaderSize = 44;
// The RIFF sizes are 32-bit: a longer recording stops growing there.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderSize;

using Header = std::array<uint8_t, kHeaderSize>;

void put16(Header& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Header& out, size_t at, uint32_t v) {
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}
void put_tag(Header& out, size_t at, const char (&tag)[5]) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(tag[i]);
}

Header header(unsigned sample_rate, uint32_t data_bytes) {
    Header out{};
    put_tag(out, 0, "RIFF");
    put32(out, 4, 36 + data_bytes);
    put_tag(out, 8, "WAVE");
    put_tag(out, 12, "fmt ");
    put32(out, 16, 16);
    put16(out, 20, 1);  // PCM
    put16(out, 22, kChannels);
    put32(out, 24, sample_rate);
    put32(out, 28, sample_rate * kChannels * kBytesPerSample);
    put16(out, 32, kChannels * kBytesPerSample);
    put16(out, 34, 8 * kBytesPerSample);
    put_tag(out, 36, "data");
    put32(out, 40, data_bytes);
    return out;
}

}  // namespace

WavWriter::~WavWriter() { close(); }

std::string WavWriter::open(const std::string& path, unsigned sample_rate) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return "cannot write " + path;
    path_ = path;
    frames_ = 0;
    failed_ = false;
    // The header is written now with sizes 0 and again at close; the sample
    // rate is known from the start.
    auto head = header(sample_rate, 0);
    if (std::fwrite(head.data(), 1, head.size(), file_) != head.size()) failed_ = true;
    sample_rate_ = sample_rate;
    return {};
}

void WavWriter::write(const int16_t* samples, size_t frames) {
    if (file_ == nullptr || failed_ || samples == nullptr) return;
    const uint64_t room = kMaxDataBytes / (kChannels * kBytesPerSample) - frames_;
    if (frames > room) frames = static_cast<size_t>(room);
    // WAV samples are little-endian whatever the host.
    std::array<uint8_t, 4096> buffer;
    size_t values = frames * kChannels;
    size_t done = 0;
    while (done < values) {
        size_t n = std::min(values - done, buffer.size() / 2);
        for (size_t i = 0; i < n; ++i) {
            uint16_t v = static_cast<uint16_t>(samples[done + i]);
            buffer[2 * i] = static_cast<uint8_t>(v);
            buffer[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        if (std::fwrite(buffer.data(), 1, 2 * n, file_) != 2 * n) {
            failed_ = true;
            return;
        }
        done += n;
    }
    frames_ += frames;
}

std::string WavWriter::close() {
    if (file_ == nullptr) return {};
    const uint32_t data_bytes = static_cast<uint32_t>(frames_ * kChannels * kBytesPerSample);
    auto head = header(sample_rate_, data_bytes);
    if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(head.data(), 1, head.size(), file_) != head.size())
        failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return failed_ ? "cannot write " + path_ : std::string();
}

}  // namespace tarvel_run
