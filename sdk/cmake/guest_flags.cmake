# Compiler and linker flags of guest programs, shared by the toolchain file
# and by tarvel_add_guest_app. ARMv4T, soft float, no C library: the SDK's
# runtime provides what gcc calls by itself.

get_filename_component(TARVEL_SDK_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(TARVEL_SDK_DIR "${TARVEL_SDK_DIR}" CACHE INTERNAL "Guest SDK folder")

# Sets <out_var> to the code generation flags for a byte order (little|big)
# and an instruction set (thumb|arm).
function(tarvel_guest_target_flags out_var endian isa)
  if(endian STREQUAL "big")
    set(flags -mbig-endian)
  elseif(endian STREQUAL "little")
    set(flags -mlittle-endian)
  else()
    message(FATAL_ERROR "guest byte order must be little or big, not '${endian}'")
  endif()
  if(isa STREQUAL "thumb")
    list(APPEND flags -mthumb)
  elseif(isa STREQUAL "arm")
    list(APPEND flags -marm)
  else()
    message(FATAL_ERROR "guest instruction set must be thumb or arm, not '${isa}'")
  endif()
  list(APPEND flags -mcpu=arm7tdmi -mthumb-interwork -mfloat-abi=soft)
  set(${out_var} ${flags} PARENT_SCOPE)
endfunction()

# Flags for compiling C and assembly of guest programs.
set(TARVEL_GUEST_COMPILE_FLAGS
  -ffreestanding -fno-common -ffunction-sections -fdata-sections
  -fno-unwind-tables -fno-asynchronous-unwind-tables -fno-exceptions
  -Wall -Wextra -g
  CACHE INTERNAL "Guest compile flags")

# Extra flags for the runtime itself: its loops must stay loops.
set(TARVEL_GUEST_RUNTIME_FLAGS -O2 -fno-builtin -fno-tree-loop-distribute-patterns
  CACHE INTERNAL "Guest runtime flags")

# Flags for linking: the SDK's linker script and nothing from the toolchain.
set(TARVEL_GUEST_LINK_FLAGS
  -nostdlib -nostartfiles -Wl,--gc-sections -Wl,-z,noexecstack -Wl,--build-id=none
  "-T${TARVEL_SDK_DIR}/tarvel.ld"
  CACHE INTERNAL "Guest link flags")

set(TARVEL_GUEST_RUNTIME_SOURCES
  "${TARVEL_SDK_DIR}/runtime/divide.c"
  "${TARVEL_SDK_DIR}/runtime/divide64.S"
  "${TARVEL_SDK_DIR}/runtime/long.c"
  "${TARVEL_SDK_DIR}/runtime/bits.c"
  "${TARVEL_SDK_DIR}/runtime/memory.c"
  CACHE INTERNAL "Guest runtime sources")
# Switch-table helpers exist only for Thumb code.
set(TARVEL_GUEST_RUNTIME_THUMB_SOURCES "${TARVEL_SDK_DIR}/runtime/thumb_case.S"
  CACHE INTERNAL "Guest runtime Thumb sources")
