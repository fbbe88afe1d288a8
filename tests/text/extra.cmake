# The glyph tests compare the compiled table with the hex file it came from.
target_compile_definitions(${test_target} PRIVATE TARVEL_UNIFONT_HEX="${TARVEL_UNIFONT_HEX}")
