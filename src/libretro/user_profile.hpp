#pragma once
// The user orientation profile is read from the frontend's system directory on
// the first load in the process, and never again.

namespace tarvel::libretro {

// Runs on every load: the first one in the process finds the system directory
// and loads the profile there; later ones do nothing. The outcome is logged and
// never stops the load.
void load_user_profile_once();

}  // namespace tarvel::libretro
