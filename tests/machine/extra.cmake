# The drawing tests build their pictures with the image decoder tests' encoders.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/media/image/encoders.cpp)

# The glyph tests compare the compiled table with the hex file it came from.
target_compile_definitions(${test_target} PRIVATE TARVEL_UNIFONT_HEX="${TARVEL_UNIFONT_HEX}")
