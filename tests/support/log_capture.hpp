#pragma once
// Collects the core's log lines while alive. The capture lets `filter` through
// (with the debug flag on when that includes Debug or Trace) and, when it goes,
// puts back the sink, filter and debug flag it found, so a test that captures
// leaves the log as the executable set it. Captures nest: the innermost one
// collects.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.hpp"

namespace tarvel::test {

struct CapturedLine {
    log::Level level;
    std::string target;
    std::string text;
};

class LogCapture {
public:
    explicit LogCapture(log::Level filter = log::Level::Debug);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<CapturedLine>& entries() const { return entries_; }
    // The lines as "target|text", in the order written.
    const std::vector<std::string>& lines() const { return lines_; }
    size_t count(log::Level level, std::string_view text) const;
    bool contains(log::Level level, std::string_view text) const { return count(level, text) != 0; }
    void clear();

private:
    static void collect(log::Level level, std::string_view target, std::string_view text);

    std::vector<CapturedLine> entries_;
    std::vector<std::string> lines_;
    LogCapture* outer_;
    log::Sink sink_;
    log::Level filter_;
    bool debug_;
};

}  // namespace tarvel::test
