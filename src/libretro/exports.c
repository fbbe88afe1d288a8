/* The shared library's own translation unit; the entry points come from the
 * tarvel_libretro_api archive, linked whole. */
