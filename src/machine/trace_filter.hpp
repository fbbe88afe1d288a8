#pragma once
// The CBE_TRACE switch. Its value is read afresh for every question asked
// outside a guest call, and once at the start of each guest call for the
// questions asked during it (see TraceSnapshot), so a debugging session can
// change it while the core runs; it is only asked on decoded service calls,
// guest text output and screen callbacks, never per instruction.
//
//   unset, or not UTF-8 text      nothing traced
//   "1" or "all"                  every service call traced
//   "3:23, 4:10"                  exactly the listed group:index pairs

#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.hpp"

namespace tarvel::machine {

inline constexpr const char* kTraceVariable = "CBE_TRACE";

// True when CBE_TRACE is set to anything at all.
bool trace_variable_set();

// Whether a filter value selects the call (group, index); the value as read
// from the environment, nullopt when unset.
bool trace_filter_matches(std::optional<std::string_view> value, u32 group, u32 index);

// trace_filter_matches on the current environment (or snapshot).
bool service_call_traced(u32 group, u32 index);

// While one exists, the questions above take CBE_TRACE as it was when it was
// made instead of searching the environment each time: a guest that calls a
// service every few instructions would otherwise spend a quarter of its time
// in getenv. One per guest call; they nest.
class TraceSnapshot {
public:
    TraceSnapshot();
    ~TraceSnapshot();
    TraceSnapshot(const TraceSnapshot&) = delete;
    TraceSnapshot& operator=(const TraceSnapshot&) = delete;

    const std::optional<std::string>& value() const { return value_; }

private:
    std::optional<std::string> value_;
    const TraceSnapshot* previous_;
};

}  // namespace tarvel::machine
