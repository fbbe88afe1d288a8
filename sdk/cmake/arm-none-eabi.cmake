# CMake toolchain file for guest programs built outside the Tarvel tree:
#
#   cmake -S myapp -B build -DCMAKE_TOOLCHAIN_FILE=<sdk>/cmake/arm-none-eabi.cmake \
#         -DTARVEL_GUEST_ENDIAN=big -DTARVEL_GUEST_ISA=thumb
#
# Executables then link with the SDK's linker script; add the start-up code
# and the runtime to them with tarvel_guest_sdk_sources(<target>) and pack
# the result with cbe-pack.

set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

if(NOT TARVEL_GUEST_ENDIAN)
  set(TARVEL_GUEST_ENDIAN little)
endif()
if(NOT TARVEL_GUEST_ISA)
  set(TARVEL_GUEST_ISA thumb)
endif()
set(TARVEL_GUEST_ENDIAN ${TARVEL_GUEST_ENDIAN} CACHE STRING "Guest byte order: little or big")
set(TARVEL_GUEST_ISA ${TARVEL_GUEST_ISA} CACHE STRING "Guest instruction set: thumb or arm")

include("${CMAKE_CURRENT_LIST_DIR}/guest_flags.cmake")
tarvel_guest_target_flags(_tarvel_target_flags ${TARVEL_GUEST_ENDIAN} ${TARVEL_GUEST_ISA})
list(JOIN _tarvel_target_flags " " _tarvel_target_flags)
list(JOIN TARVEL_GUEST_COMPILE_FLAGS " " _tarvel_compile_flags)
list(JOIN TARVEL_GUEST_LINK_FLAGS " " _tarvel_link_flags)

set(CMAKE_C_FLAGS_INIT "${_tarvel_target_flags} ${_tarvel_compile_flags}")
set(CMAKE_ASM_FLAGS_INIT "${_tarvel_target_flags} ${_tarvel_compile_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_tarvel_target_flags} ${_tarvel_link_flags}")

# Adds the start-up code, the runtime and the SDK headers to a guest executable.
function(tarvel_guest_sdk_sources target)
  set(runtime ${TARVEL_GUEST_RUNTIME_SOURCES})
  if(TARVEL_GUEST_ISA STREQUAL "thumb")
    list(APPEND runtime ${TARVEL_GUEST_RUNTIME_THUMB_SOURCES})
  endif()
  set_source_files_properties(${runtime} PROPERTIES COMPILE_OPTIONS
    "${TARVEL_GUEST_RUNTIME_FLAGS}")
  target_sources(${target} PRIVATE "${TARVEL_SDK_DIR}/crt0.S" ${runtime})
  target_include_directories(${target} PRIVATE "${TARVEL_SDK_DIR}/include")
endfunction()
