# The drawing tests build their pictures with the image decoder tests' encoders.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/media/image/encoders.cpp)

# The glyph tests compare the compiled table with the hex file it came from.
target_compile_definitions(${test_target} PRIVATE TARVEL_UNIFONT_HEX="${TARVEL_UNIFONT_HEX}")

# A guest C program, built with the SDK in both byte orders, that logs what its
# screen callbacks see through the real tick.
foreach(endian IN ITEMS little big)
  set(name tick_probe_${endian})
  tarvel_add_guest_app(NAME ${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/guest/tick_probe.c ENDIAN ${endian} ISA thumb)
  if(TARGET ${name})
    add_dependencies(${test_target} ${name})
    string(TOUPPER ${endian} upper)
    target_compile_definitions(${test_target} PRIVATE TICK_PROBE_${upper}_CBE="${${name}_CBE}")
  endif()
endforeach()
