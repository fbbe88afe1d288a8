# Guest programs built at build time: C and assembly compiled with the ARM
# cross compiler (never the host toolchain), linked with the SDK's start-up
# code, runtime and linker script, and packed into a .cbe with cbe-pack.
#
#   tarvel_add_guest_app(NAME <name> SOURCES <files...>
#                        [ENDIAN little|big] [ISA thumb|arm]
#                        [RESOURCES <folder>] [RESOURCE_FILES <files...>]
#                        [LOAD_ADDRESS <address>]
#                        [OPTIMIZE <flag>] [INCLUDE_DIRECTORIES <dirs...>]
#                        [DEFINITIONS <NAME=value...>] [LINK_OPTIONS <flags...>]
#                        [PACK_OPTIONS <options...>]
#                        [ALL])
#
# Creates the target <name> and the files <build>/guest/<name>/<name>.cbe and
# .elf. The sources can #include "tv_resources.h", which numbers the
# resources (TV_RES_<NAME>) in the order the machine will list them. Their paths are set in the caller's scope as <name>_CBE and <name>_ELF
# and stored on the target as the properties TARVEL_CBE_FILE and
# TARVEL_ELF_FILE, e.g. $<TARGET_PROPERTY:<name>,TARVEL_CBE_FILE>. A test
# folder's extra.cmake typically does:
#
#   tarvel_add_guest_app(NAME my_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/apps/my_app.c)
#   if(TARGET my_app)
#     add_dependencies(${test_target} my_app)
#     target_compile_definitions(${test_target} PRIVATE MY_APP_CBE="${my_app_CBE}")
#   endif()
#
# RESOURCE_FILES names the files of a RESOURCES folder that the build itself
# makes (custom command outputs); the program is packed after them.
#
# Without arm-none-eabi-gcc the function only reports that it skips the
# program, creates no target and leaves the variables empty.

include("${CMAKE_SOURCE_DIR}/sdk/cmake/guest_flags.cmake")

find_program(TARVEL_GUEST_CC arm-none-eabi-gcc)
if(TARVEL_GUEST_CC AND EXISTS "${TARVEL_GUEST_CC}")
  set(TARVEL_GUEST_APPS_AVAILABLE TRUE CACHE INTERNAL "Guest programs can be built")
else()
  set(TARVEL_GUEST_APPS_AVAILABLE FALSE CACHE INTERNAL "Guest programs can be built")
  message(STATUS "arm-none-eabi-gcc not found: guest programs (SDK tests, demo) are skipped")
endif()

function(tarvel_add_guest_app)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "ALL"
    "NAME;ENDIAN;ISA;RESOURCES;LOAD_ADDRESS;OPTIMIZE"
    "SOURCES;INCLUDE_DIRECTORIES;DEFINITIONS;LINK_OPTIONS;PACK_OPTIONS;RESOURCE_FILES")
  if(NOT ARG_NAME OR NOT ARG_SOURCES)
    message(FATAL_ERROR "tarvel_add_guest_app needs NAME and SOURCES")
  endif()
  set(${ARG_NAME}_CBE "" PARENT_SCOPE)
  set(${ARG_NAME}_ELF "" PARENT_SCOPE)
  if(NOT TARVEL_GUEST_APPS_AVAILABLE)
    message(STATUS "Skipping guest program ${ARG_NAME}: no arm-none-eabi-gcc")
    return()
  endif()
  if(NOT ARG_ENDIAN)
    set(ARG_ENDIAN little)
  endif()
  if(NOT ARG_ISA)
    set(ARG_ISA thumb)
  endif()
  if(NOT ARG_OPTIMIZE)
    set(ARG_OPTIMIZE -O2)
  endif()

  set(out_dir "${CMAKE_BINARY_DIR}/guest/${ARG_NAME}")
  file(MAKE_DIRECTORY "${out_dir}")
  tarvel_guest_target_flags(target_flags ${ARG_ENDIAN} ${ARG_ISA})
  set(include_flags "-I${TARVEL_SDK_DIR}/include")
  foreach(dir IN LISTS ARG_INCLUDE_DIRECTORIES)
    list(APPEND include_flags "-I${dir}")
  endforeach()
  set(define_flags "")
  foreach(def IN LISTS ARG_DEFINITIONS)
    list(APPEND define_flags "-D${def}")
  endforeach()

  # The resource numbers as a header, tv_resources.h, generated before the
  # sources compile (TV_RES_<NAME> for each resource, TV_RES_COUNT).
  set(header_dir "${out_dir}/include")
  set(resource_header "${header_dir}/tv_resources.h")
  file(MAKE_DIRECTORY "${header_dir}")
  set(resource_deps "")
  set(resource_flags "")
  if(ARG_RESOURCES)
    get_filename_component(ARG_RESOURCES "${ARG_RESOURCES}" ABSOLUTE
      BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(ARG_RESOURCE_FILES)
      # A folder the build fills: its files are known, not found.
      set(resource_deps ${ARG_RESOURCE_FILES})
    else()
      file(GLOB_RECURSE resource_deps CONFIGURE_DEPENDS "${ARG_RESOURCES}/*")
    endif()
    set(resource_flags --resources "${ARG_RESOURCES}")
  endif()
  list(FIND ARG_PACK_OPTIONS --form form_at)
  if(form_at GREATER_EQUAL 0)
    math(EXPR form_at "${form_at} + 1")
    list(GET ARG_PACK_OPTIONS ${form_at} form)
    list(APPEND resource_flags --form ${form})
  endif()
  add_custom_command(OUTPUT "${resource_header}"
    COMMAND cbe-pack ${resource_flags} --header "${resource_header}"
    DEPENDS cbe-pack ${resource_deps}
    COMMENT "Numbering resources of guest ${ARG_NAME}"
    VERBATIM)
  list(APPEND include_flags "-I${header_dir}")

  # One object per source; the start-up code and the runtime are compiled for
  # each program so that every program gets them in its own byte order and
  # instruction set (they are small, and --gc-sections drops what is unused).
  set(runtime_sources ${TARVEL_GUEST_RUNTIME_SOURCES})
  if(ARG_ISA STREQUAL "thumb")
    list(APPEND runtime_sources ${TARVEL_GUEST_RUNTIME_THUMB_SOURCES})
  endif()
  set(objects "")
  set(index 0)
  foreach(src IN LISTS ARG_SOURCES runtime_sources)
    get_filename_component(src "${src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(stem "${src}" NAME_WE)
    set(obj "${out_dir}/${index}_${stem}.o")
    math(EXPR index "${index} + 1")
    if(src IN_LIST runtime_sources)
      set(extra_flags ${TARVEL_GUEST_RUNTIME_FLAGS})
    else()
      set(extra_flags ${ARG_OPTIMIZE} ${define_flags})
    endif()
    add_custom_command(OUTPUT "${obj}"
      COMMAND ${TARVEL_GUEST_CC} ${target_flags} ${TARVEL_GUEST_COMPILE_FLAGS}
              ${extra_flags} ${include_flags} -MMD -MF "${obj}.d" -c "${src}" -o "${obj}"
      DEPENDS "${src}" "${resource_header}"
      DEPFILE "${obj}.d"
      COMMENT "Compiling guest ${ARG_NAME}: ${stem}"
      VERBATIM)
    list(APPEND objects "${obj}")
  endforeach()

  set(crt0 "${TARVEL_SDK_DIR}/crt0.S")
  set(crt0_obj "${out_dir}/crt0.o")
  add_custom_command(OUTPUT "${crt0_obj}"
    COMMAND ${TARVEL_GUEST_CC} ${target_flags} ${TARVEL_GUEST_COMPILE_FLAGS}
            -c "${crt0}" -o "${crt0_obj}"
    DEPENDS "${crt0}"
    COMMENT "Compiling guest ${ARG_NAME}: start-up code"
    VERBATIM)

  set(elf "${out_dir}/${ARG_NAME}.elf")
  set(link_flags ${TARVEL_GUEST_LINK_FLAGS} ${ARG_LINK_OPTIONS} "-Wl,-Map=${out_dir}/${ARG_NAME}.map")
  set(pack_flags "")
  if(DEFINED ARG_LOAD_ADDRESS AND NOT ARG_LOAD_ADDRESS STREQUAL "")
    if(NOT ARG_LOAD_ADDRESS EQUAL 0)
      list(APPEND link_flags "-Wl,--defsym=TARVEL_LOAD_ADDRESS=${ARG_LOAD_ADDRESS}")
    endif()
    list(APPEND pack_flags --load-address "${ARG_LOAD_ADDRESS}")
  endif()
  add_custom_command(OUTPUT "${elf}"
    COMMAND ${TARVEL_GUEST_CC} ${target_flags} ${link_flags} "${crt0_obj}" ${objects}
            -o "${elf}"
    DEPENDS "${crt0_obj}" ${objects} "${TARVEL_SDK_DIR}/tarvel.ld"
    COMMENT "Linking guest ${ARG_NAME}"
    VERBATIM)

  set(cbe "${out_dir}/${ARG_NAME}.cbe")
  if(ARG_RESOURCES)
    list(APPEND pack_flags --resources "${ARG_RESOURCES}")
  endif()
  add_custom_command(OUTPUT "${cbe}"
    COMMAND cbe-pack --elf "${elf}" --output "${cbe}" ${pack_flags} ${ARG_PACK_OPTIONS}
    DEPENDS "${elf}" cbe-pack ${resource_deps}
    COMMENT "Packing guest ${ARG_NAME}"
    VERBATIM)

  if(ARG_ALL)
    add_custom_target(${ARG_NAME} ALL DEPENDS "${cbe}")
  else()
    add_custom_target(${ARG_NAME} DEPENDS "${cbe}")
  endif()
  set_target_properties(${ARG_NAME} PROPERTIES TARVEL_CBE_FILE "${cbe}" TARVEL_ELF_FILE "${elf}")
  set(${ARG_NAME}_CBE "${cbe}" PARENT_SCOPE)
  set(${ARG_NAME}_ELF "${elf}" PARENT_SCOPE)
endfunction()
