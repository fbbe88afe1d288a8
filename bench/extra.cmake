# Benchmarks of the frontend binding (frame presentation) need the entry-point library.
target_link_libraries(tarvel-bench PRIVATE tarvel_libretro_api)
# The interpreter benchmark runs the same guest loops on Unicorn for comparison.
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
target_link_libraries(tarvel-bench PRIVATE PkgConfig::UNICORN)
# The save-state benchmark plays the demo through the entry points.
if(TARGET tarvel_demo)
  add_dependencies(tarvel-bench tarvel_demo)
  target_compile_definitions(tarvel-bench PRIVATE TARVEL_DEMO_CBE="${TARVEL_DEMO_CBE}")
endif()
