#include "machine/trace_filter.hpp"

#include <fmt/format.h>
#include <cstdlib>

#include "common/utf8.hpp"

namespace tarvel::machine {

namespace {

std::string_view trim(std::string_view s) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    const size_t begin = s.find_first_not_of(kSpace);
    if (begin == std::string_view::npos) return {};
    const size_t end = s.find_last_not_of(kSpace);
    return s.substr(begin, end - begin + 1);
}

// The item must be exactly the decimal group, a colon and the decimal index.
bool item_matches(std::string_view item, std::string_view wanted) { return item == wanted; }

thread_local const TraceSnapshot* current_snapshot = nullptr;

std::optional<std::string_view> trace_value() {
    if (current_snapshot) {
        const std::optional<std::string>& value = current_snapshot->value();
        if (!value) return std::nullopt;
        return std::string_view(*value);
    }
    const char* value = std::getenv(kTraceVariable);
    if (!value) return std::nullopt;
    return std::string_view(value);
}

}  // namespace

TraceSnapshot::TraceSnapshot() : previous_(current_snapshot) {
    if (const char* value = std::getenv(kTraceVariable)) value_ = value;
    current_snapshot = this;
}

TraceSnapshot::~TraceSnapshot() { current_snapshot = previous_; }

bool trace_variable_set() { return trace_value().has_value(); }

bool trace_filter_matches(std::optional<std::string_view> value, u32 group, u32 index) {
    if (!value || !utf8::is_valid(*value)) return false;
    if (*value == "1" || *value == "all") return true;
    char buffer[32];
    const auto written = fmt::format_to_n(buffer, sizeof buffer, "{}:{}", group, index);
    const std::string_view wanted(buffer, written.size);
    std::string_view rest = *value;
    for (;;) {
        const size_t comma = rest.find(',');
        if (item_matches(trim(rest.substr(0, comma)), wanted)) return true;
        if (comma == std::string_view::npos) return false;
        rest.remove_prefix(comma + 1);
    }
}

bool service_call_traced(u32 group, u32 index) {
    const std::optional<std::string_view> value = trace_value();
    if (!value) return false;
    return trace_filter_matches(value, group, index);
}

}  // namespace tarvel::machine
