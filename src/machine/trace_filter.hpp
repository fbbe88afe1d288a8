#pragma once
// The CBE_TRACE switch. Its value is read afresh for every question, so a
// debugging session can change it while the core runs; it is only asked on
// decoded service calls, guest text output and screen callbacks, never per
// instruction.
//
//   unset, or not UTF-8 text      nothing traced
//   "1" or "all"                  every service call traced
//   "3:23, 4:10"                  exactly the listed group:index pairs

#include <optional>
#include <string_view>

#include "common/bytes.hpp"

namespace tarvel::machine {

inline constexpr const char* kTraceVariable = "CBE_TRACE";

// True when CBE_TRACE is set to anything at all.
bool trace_variable_set();

// Whether a filter value selects the call (group, index); the value as read
// from the environment, nullopt when unset.
bool trace_filter_matches(std::optional<std::string_view> value, u32 group, u32 index);

// trace_filter_matches on the current environment.
bool service_call_traced(u32 group, u32 index);

}  // namespace tarvel::machine
