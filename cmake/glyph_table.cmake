# The glyph table of the text service, generated at build time from GNU
# Unifont's hex file (Debian package unifont) and compiled into the machine module,
# so the core reads no font file at run time.
set(TARVEL_UNIFONT_HEX /usr/share/unifont/unifont.hex CACHE FILEPATH
  "GNU Unifont hex file from which the glyph table is generated")
if(NOT EXISTS ${TARVEL_UNIFONT_HEX})
  message(FATAL_ERROR "Unifont hex file ${TARVEL_UNIFONT_HEX} not found: install the unifont package (scripts/setup)")
endif()

include(${CMAKE_SOURCE_DIR}/tools/glyph_table_gen/CMakeLists.txt)

set(tarvel_glyph_table_source ${CMAKE_BINARY_DIR}/generated/glyph_table_data.cpp)
add_custom_command(
  OUTPUT ${tarvel_glyph_table_source}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND glyph_table_gen ${TARVEL_UNIFONT_HEX} ${tarvel_glyph_table_source}
  DEPENDS glyph_table_gen ${TARVEL_UNIFONT_HEX}
  COMMENT "Generating the glyph table from ${TARVEL_UNIFONT_HEX}"
  VERBATIM)
target_sources(tarvel_machine PRIVATE ${tarvel_glyph_table_source})
