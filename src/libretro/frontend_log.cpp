#include "libretro/frontend_log.hpp"

#include <atomic>

#include "libretro/frontend.hpp"

namespace tarvel::libretro {
namespace {

std::atomic<retro_log_printf_t> g_destination{&stderr_fallback};

log::Level to_core_level(retro_log_level level) {
    switch (level) {
        case RETRO_LOG_DEBUG: return log::Level::Debug;
        case RETRO_LOG_INFO: return log::Level::Info;
        case RETRO_LOG_WARN: return log::Level::Warn;
        default: return log::Level::Error;
    }
}

void forward_to_frontend(log::Level level, std::string_view /*target*/, std::string_view text) {
    std::string format = as_log_format(text);
    g_destination.load(std::memory_order_relaxed)(to_retro_level(level), format.c_str());
}

}  // namespace

retro_log_level to_retro_level(log::Level level) {
    switch (level) {
        case log::Level::Error: return RETRO_LOG_ERROR;
        case log::Level::Warn: return RETRO_LOG_WARN;
        case log::Level::Info: return RETRO_LOG_INFO;
        default: return RETRO_LOG_DEBUG;
    }
}

std::string as_log_format(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return "\n";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::string format;
    format.reserve(text.size() + 5);
    for (char c : text) {
        format += c;
        if (c == '%') format += '%';
    }
    format += '\n';
    return format;
}

void stderr_fallback(enum retro_log_level level, const char* format, ...) {
    // Only the format is shown: the core always passes the finished text there.
    std::string_view raw = format ? std::string_view(format) : std::string_view();
    // The line end the frontend gets is added again by the standard-error sink.
    if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        text += raw[i];
        if (raw[i] == '%' && i + 1 < raw.size() && raw[i + 1] == '%') ++i;
    }
    log::stderr_sink(to_core_level(level), kApiTarget, text);
}

void install_frontend_logging() {
    retro_log_printf_t destination = &stderr_fallback;
    retro_log_callback offered{};
    // A frontend that accepts the request but leaves the callback empty is
    // treated as having no log interface.
    if (environment(RETRO_ENVIRONMENT_GET_LOG_INTERFACE, &offered) && offered.log != nullptr)
        destination = offered.log;
    g_destination.store(destination, std::memory_order_relaxed);
    // Installing the bridge again is harmless and keeps lines flowing to the
    // newest destination even if something else replaced the sink meanwhile.
    log::set_sink(&forward_to_frontend);
    log::set_debug_flag(false);
    log::set_filter(log::Level::Info);
}

}  // namespace tarvel::libretro
