#pragma once
// Collects "target|text" log lines at every level while alive.

#include <string>
#include <vector>

#include "common/log.hpp"

namespace tarvel::test {

class LogCapture {
public:
    LogCapture() {
        lines().clear();
        log::set_sink(&capture);
        log::set_filter(log::Level::Trace);
        log::set_debug_flag(true);
    }
    ~LogCapture() {
        log::set_sink(nullptr);
        log::set_filter(log::Level::Info);
        log::set_debug_flag(false);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static void capture(log::Level, std::string_view target, std::string_view text) {
        lines().push_back(std::string(target) + "|" + std::string(text));
    }
};

}  // namespace tarvel::test
