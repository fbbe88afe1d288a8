#include "support/log_capture.hpp"

namespace tarvel::test {
namespace {
// The sink is a plain function pointer; it hands lines to the innermost capture.
LogCapture* g_active = nullptr;

// The logger has no getter for its filter: the level is read where the
// logging macro reads it.
log::Level current_filter() { return static_cast<log::Level>(log::detail::g_filter.load()); }
}  // namespace

LogCapture::LogCapture(log::Level filter)
    : outer_(g_active), sink_(log::sink()), filter_(current_filter()), debug_(log::debug_flag()) {
    g_active = this;
    log::set_sink(&collect);
    log::set_filter(filter);
    log::set_debug_flag(filter >= log::Level::Debug);
}

LogCapture::~LogCapture() {
    g_active = outer_;
    log::set_sink(sink_);
    log::set_filter(filter_);
    log::set_debug_flag(debug_);
}

void LogCapture::collect(log::Level level, std::string_view target, std::string_view text) {
    if (g_active == nullptr) return;
    g_active->entries_.push_back(CapturedLine{level, std::string(target), std::string(text)});
    g_active->lines_.push_back(std::string(target) + "|" + std::string(text));
}

size_t LogCapture::count(log::Level level, std::string_view text) const {
    size_t n = 0;
    for (const CapturedLine& line : entries_) n += line.level == level && line.text == text;
    return n;
}

void LogCapture::clear() {
    entries_.clear();
    lines_.clear();
}

}  // namespace tarvel::test
