// Exported libretro entry points. Placeholder until the entry points land.
#include <libretro.h>

RETRO_API unsigned retro_api_version(void) { return RETRO_API_VERSION; }
