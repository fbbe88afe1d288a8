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
# The guest-program benchmark runs one C workload built in both instruction
# sets and both byte orders.
set(guest_program_definitions "")
foreach(variant IN ITEMS "thumb;little" "thumb;big" "arm;little" "arm;big")
  list(GET variant 0 isa)
  list(GET variant 1 endian)
  set(name bench_workload_${isa}_${endian})
  tarvel_add_guest_app(NAME ${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/guest/workload.c ENDIAN ${endian} ISA ${isa})
  if(TARGET ${name})
    add_dependencies(tarvel-bench ${name})
    string(TOUPPER ${name} upper)
    list(APPEND guest_program_definitions ${upper}_CBE="${${name}_CBE}")
  endif()
endforeach()
target_compile_definitions(tarvel-bench PRIVATE ${guest_program_definitions})
# The music benchmark encodes its MP3 with LAME.
target_link_libraries(tarvel-bench PRIVATE mp3lame)
