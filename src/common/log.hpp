#pragma once
// Leveled logging with module targets. The frontend binding installs the sink
// (the frontend's log callback or the standard-error fallback) and the filter;
// everything else only calls TARVEL_LOG. A disabled level costs one load and
// one compare: arguments are not formatted.

#include <atomic>
#include <cstdint>
#include <string_view>

#include <fmt/format.h>

namespace tarvel::log {

// Ordered from most to least severe: a line passes when level <= filter.
enum class Level : uint8_t { Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

// Receives finished lines. `text` is the formatted message, without prefix or line end.
using Sink = void (*)(Level level, std::string_view target, std::string_view text);

void set_sink(Sink sink);
Sink sink();
// Writes "[Tarvel] LEVEL: text\n" to standard error (Trace is shown as DEBUG).
// Text that is not UTF-8 is shown with U+FFFD in place of the bad bytes.
void stderr_sink(Level level, std::string_view target, std::string_view text);

void set_filter(Level max_level);
void set_debug_flag(bool enabled);
bool debug_flag();

namespace detail {
extern std::atomic<uint8_t> g_filter;
extern std::atomic<bool> g_debug;
void emit(Level level, std::string_view target, fmt::string_view pattern, fmt::format_args args);
}  // namespace detail

// The filter admits the level and the logger's own test passes: Error, Warn and
// Info always, Debug and Trace only while the debug flag is set.
inline bool enabled(Level level) {
    if (static_cast<uint8_t>(level) > detail::g_filter.load(std::memory_order_relaxed)) return false;
    return level <= Level::Info || detail::g_debug.load(std::memory_order_relaxed);
}

template <typename... Args>
void write(Level level, std::string_view target, fmt::format_string<Args...> pattern, Args&&... args) {
    detail::emit(level, target, pattern, fmt::make_format_args(args...));
}

}  // namespace tarvel::log

#define TARVEL_LOG(level, target, ...)                                           \
    do {                                                                         \
        if (::tarvel::log::enabled(::tarvel::log::Level::level))                 \
            ::tarvel::log::write(::tarvel::log::Level::level, target, __VA_ARGS__); \
    } while (0)
