# The asset tests build their GIF inputs with the image decoder tests' encoders.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/media/image/encoders.cpp)
# cbe-inspect is tested through its library; the demo, when built, is one of its inputs.
target_link_libraries(${test_target} PRIVATE tarvel_inspect)
target_compile_definitions(${test_target} PRIVATE TARVEL_DEMO_CBE_FILE="${TARVEL_DEMO_CBE}")
if(TARGET tarvel_demo)
  add_dependencies(${test_target} tarvel_demo)
endif()
