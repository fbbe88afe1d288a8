# The drawing tests build their pictures with the image decoder tests' encoders.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/media/image/encoders.cpp)

# The glyph tests compare the compiled table with the hex file it came from.
target_compile_definitions(${test_target} PRIVATE TARVEL_UNIFONT_HEX="${TARVEL_UNIFONT_HEX}")

# A guest C program that logs what its screen callbacks see through the real tick.
tarvel_test_guest_probe(${test_target} TICK_PROBE ${CMAKE_CURRENT_LIST_DIR}/guest/tick_probe.c)
