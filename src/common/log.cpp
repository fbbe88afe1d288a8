#include "common/log.hpp"

#include <cstdio>
#include <string>

#include "common/utf8.hpp"

namespace tarvel::log {

namespace detail {
std::atomic<uint8_t> g_filter{static_cast<uint8_t>(Level::Info)};
std::atomic<bool> g_debug{false};
}  // namespace detail

namespace {
std::atomic<Sink> g_sink{&stderr_sink};

const char* level_name(Level level) {
    switch (level) {
        case Level::Error: return "ERROR";
        case Level::Warn: return "WARN";
        case Level::Info: return "INFO";
        default: return "DEBUG";
    }
}
}  // namespace

void set_sink(Sink s) { g_sink.store(s ? s : &stderr_sink); }
Sink sink() { return g_sink.load(); }

void stderr_sink(Level level, std::string_view, std::string_view text) {
    // One write per line, so that lines from the core stay whole on a shared terminal.
    std::string line = fmt::format("[Tarvel] {}: {}\n", level_name(level), utf8::replace_invalid(text));
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void set_filter(Level max_level) { detail::g_filter.store(static_cast<uint8_t>(max_level)); }
void set_debug_flag(bool on) { detail::g_debug.store(on); }
bool debug_flag() { return detail::g_debug.load(); }

void detail::emit(Level level, std::string_view target, fmt::string_view pattern, fmt::format_args args) {
    std::string text = fmt::vformat(pattern, args);
    g_sink.load()(level, target, text);
}

}  // namespace tarvel::log
