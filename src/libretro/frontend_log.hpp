#pragma once
// Bridges the core's logger to the frontend. Finished lines go to the
// frontend's log callback when it offered one, otherwise to standard error.

#include <libretro.h>

#include <string>
#include <string_view>

#include "common/log.hpp"

namespace tarvel::libretro {

// Run by retro_init: asks the frontend for its log interface, routes the core's
// logger to it (or to the standard-error fallback), clears the debug flag and
// sets the filter to Info. Calling it again only renews the destination.
void install_frontend_logging();

// The destination when the frontend has no log interface. Takes the line as a
// printf-style format in which "%%" stands for "%", with or without its line
// end; prints "[Tarvel] LEVEL: text\n" on standard error.
void stderr_fallback(enum retro_log_level level, const char* format, ...);

retro_log_level to_retro_level(log::Level level);

// The format string the frontend receives for a line of text: every "%"
// doubled so that the callback prints it literally, and exactly one line end,
// which frontends expect the core to supply. Text holding a NUL byte cannot
// travel as a C string and becomes an empty line.
std::string as_log_format(std::string_view text);

}  // namespace tarvel::libretro
