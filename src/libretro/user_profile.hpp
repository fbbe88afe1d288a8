#pragma once
// The user orientation profile is read from the frontend's system directory on
// the first load in the process, and never again.

#include <string>

#include "common/error.hpp"

namespace tarvel::libretro {

inline constexpr const char* kUserProfileFileName = "tarvel_orientation.csv";

// Runs on every load: the first one in the process finds the system directory
// and loads the profile there; later ones do nothing. The outcome is logged and
// never stops the load.
void load_user_profile_once();

// Reads and installs the profile at `path`; returns the number of entries.
Result<size_t> load_user_profile(const std::string& path);

}  // namespace tarvel::libretro
