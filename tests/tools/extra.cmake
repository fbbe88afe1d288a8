# The asset tests build their GIF inputs with the image decoder tests' encoders.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/media/image/encoders.cpp)
