# End-to-end tests: guest applications of our own and the demo run through
# tarvel-run (a separate process that loads the core library) and RetroArch.
# Frames are compared with golden PNGs in golden/ (rebaseline with
# scripts/rebaseline or TARVEL_REBASELINE=1).
target_link_libraries(${test_target} PRIVATE tarvel_run_frontend)
add_dependencies(${test_target} tarvel-run tarvel_libretro)

set(e2e_definitions
  TARVEL_RUN_EXE="$<TARGET_FILE:tarvel-run>"
  TARVEL_CORE_LIBRARY="$<TARGET_FILE:tarvel_libretro>"
  TARVEL_CORE_INFO_FILE="${CMAKE_BINARY_DIR}/tarvel_libretro.info"
  TARVEL_E2E_GOLDEN_DIR="${CMAKE_CURRENT_LIST_DIR}/golden"
  TARVEL_E2E_SCRIPT_DIR="${CMAKE_CURRENT_LIST_DIR}/scripts"
  TARVEL_E2E_OUTPUT_DIR="${CMAKE_BINARY_DIR}/e2e-output")
if(TARVEL_SANITIZE)
  # RetroArch is not built with the sanitizers; the core built with them
  # loads there only when their runtimes are preloaded.
  set(e2e_runtimes "")
  foreach(runtime libasan.so libubsan.so)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
      OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${runtime_path}" AND EXISTS "${runtime_path}")
      list(APPEND e2e_runtimes "${runtime_path}")
    endif()
  endforeach()
  list(JOIN e2e_runtimes ":" e2e_runtimes)
  list(APPEND e2e_definitions TARVEL_E2E_SANITIZED=1 TARVEL_E2E_SANITIZER_RUNTIMES="${e2e_runtimes}")
endif()

# Each application in both byte orders; the keypad board also as ARM code.
foreach(app IN ITEMS
    "e2e_keypad_le;keypad_board.c;little;thumb"
    "e2e_keypad_be;keypad_board.c;big;thumb"
    "e2e_keypad_arm_be;keypad_board.c;big;arm"
    "e2e_timers_le;timer_screens.c;little;thumb"
    "e2e_timers_be;timer_screens.c;big;thumb")
  list(GET app 0 name)
  list(GET app 1 source)
  list(GET app 2 endian)
  list(GET app 3 isa)
  tarvel_add_guest_app(NAME ${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/apps/${source} ENDIAN ${endian} ISA ${isa})
  if(TARGET ${name})
    add_dependencies(${test_target} ${name})
    string(TOUPPER ${name} upper)
    list(APPEND e2e_definitions ${upper}_CBE="${${name}_CBE}")
  endif()
endforeach()

# The debugger's application: the timer screens again, without optimisation
# so that its locals live where the debugger can read them, as Thumb code
# and as big-endian ARM code; and the debugger itself when it is installed.
foreach(app IN ITEMS "e2e_debug_thumb_le;little;thumb" "e2e_debug_arm_be;big;arm")
  list(GET app 0 name)
  list(GET app 1 endian)
  list(GET app 2 isa)
  tarvel_add_guest_app(NAME ${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/apps/timer_screens.c
                       ENDIAN ${endian} ISA ${isa} OPTIMIZE -O0)
  if(TARGET ${name})
    add_dependencies(${test_target} ${name})
    string(TOUPPER ${name} upper)
    list(APPEND e2e_definitions ${upper}_CBE="${${name}_CBE}" ${upper}_ELF="${${name}_ELF}")
  endif()
endforeach()
find_program(TARVEL_GDB_MULTIARCH gdb-multiarch)
if(TARVEL_GDB_MULTIARCH)
  list(APPEND e2e_definitions TARVEL_GDB_EXE="${TARVEL_GDB_MULTIARCH}")
endif()

if(TARGET tarvel_demo)
  add_dependencies(${test_target} tarvel_demo)
  list(APPEND e2e_definitions TARVEL_DEMO_LE_CBE="${TARVEL_DEMO_CBE}")
endif()
if(TARGET tarvel_demo_be)
  add_dependencies(${test_target} tarvel_demo_be)
  list(APPEND e2e_definitions TARVEL_DEMO_BE_CBE="${TARVEL_DEMO_BE_CBE}")
endif()

target_compile_definitions(${test_target} PRIVATE ${e2e_definitions})
