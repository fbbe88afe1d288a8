#include "support/stderr_capture.hpp"

#include <unistd.h>

namespace tarvel::test {

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_fd_ = ::dup(2);
    if (file_ != nullptr && saved_fd_ >= 0) ::dup2(::fileno(file_), 2);
}

StderrCapture::~StderrCapture() { finish(); }

std::string StderrCapture::finish() {
    std::string captured;
    if (saved_fd_ < 0) return captured;
    std::fflush(stderr);
    ::dup2(saved_fd_, 2);
    ::close(saved_fd_);
    saved_fd_ = -1;
    if (file_ != nullptr) {
        std::rewind(file_);
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) captured.append(buffer, got);
        std::fclose(file_);
        file_ = nullptr;
    }
    return captured;
}

}  // namespace tarvel::test
