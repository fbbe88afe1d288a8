#pragma once
// Whole-file reads from the host filesystem. The error carries the operating
// system's description of the failure; callers add what they were reading.

#include <span>
#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel {

Result<std::vector<u8>> read_whole_file(const std::string& path);
// Creates or replaces the file with exactly these bytes.
Status write_whole_file(const std::string& path, std::span<const u8> bytes);
// Like write_whole_file, but the old file is replaced only once the new bytes
// are complete and on disk (written beside it as PATH.tmp, then renamed over
// it): a crash at any moment leaves either the old file or the new one.
Status replace_file(const std::string& path, std::span<const u8> bytes);

}  // namespace tarvel
