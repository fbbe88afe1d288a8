#pragma once
// Collects what is written to the process's standard error (file descriptor 2)
// while it is alive, for tests of output that bypasses any callback.

#include <cstdio>
#include <string>

namespace tarvel::test {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Restores standard error and returns everything written meanwhile.
    std::string finish();

private:
    std::FILE* file_ = nullptr;
    int saved_fd_ = -1;
};

}  // namespace tarvel::test
