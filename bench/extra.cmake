# Benchmarks of the frontend binding (frame presentation) need the entry-point library.
target_link_libraries(tarvel-bench PRIVATE tarvel_libretro_api)
