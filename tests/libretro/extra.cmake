# The info file a frontend reads next to the core, as the build lays it out.
target_compile_definitions(${test_target} PRIVATE TARVEL_INFO_FILE="${CMAKE_BINARY_DIR}/tarvel_libretro.info")
