# The info file a frontend reads next to the core, as the build lays it out.
target_compile_definitions(${test_target} PRIVATE TARVEL_INFO_FILE="${CMAKE_BINARY_DIR}/tarvel_libretro.info")
# The on-screen keypad overlay as the build lays it out (empty when it is not built).
target_compile_definitions(${test_target} PRIVATE TARVEL_KEYPAD_OVERLAY_DIR="${TARVEL_KEYPAD_OVERLAY_DIR}")
if(TARGET tarvel_keypad_overlay)
  add_dependencies(${test_target} tarvel_keypad_overlay)
endif()
