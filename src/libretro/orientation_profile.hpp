#pragma once
// Per-content orientation: a user profile file can name the orientation of a
// CBE file by its length and CRC-32; failing that, a built-in table lists the
// contents known to be made for a sideways screen; everything else is Portrait.
//
// The user profile is process-wide: it is loaded once (by the first game load)
// and read whenever options are applied, behind a reader-writer lock.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "common/orientation.hpp"

namespace tarvel {

// The file name looked for in the frontend's system directory.
inline constexpr std::string_view kOrientationProfileFileName = "tarvel_orientation.csv";

struct ProfileEntry {
    u64 length = 0;
    u32 crc32 = 0;
    Orientation orientation = Orientation::Portrait;  // Portrait or Landscape, never Auto

    friend bool operator==(const ProfileEntry&, const ProfileEntry&) = default;
};

// Parses profile text: one "crc32,length,orientation" entry per line, blank
// lines and lines starting with "#" skipped. The first bad line fails the parse
// with "line N: ..." (line numbers count from 1).
Result<std::vector<ProfileEntry>> parse_orientation_profile(std::string_view text);

// Reads and parses the profile file at `path`; on success its entries replace
// the process-wide user profile and their count is returned. On failure the
// user profile is left as it was.
Result<size_t> load_user_orientation_profile(const std::string& path);

// Replaces the process-wide user profile (what a successful load does).
void replace_user_orientation_profile(std::vector<ProfileEntry> entries);
// A copy of the process-wide user profile, in file order.
std::vector<ProfileEntry> user_orientation_profile();

// The contents known to be landscape, all with orientation Landscape.
std::span<const ProfileEntry> builtin_landscape_table();

// The first entry of `entries` matching both length and CRC, else nothing.
const ProfileEntry* find_profile_entry(std::span<const ProfileEntry> entries, u64 length, u32 crc);

// User profile first, then the built-in table, else Portrait. Never Auto.
Orientation lookup_orientation(u64 length, u32 crc);
// The same for the bytes of a whole CBE file.
Orientation lookup_orientation(std::span<const u8> file_bytes);

}  // namespace tarvel
