# The differential test runs every instruction on Unicorn as a reference.
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
target_link_libraries(${test_target} PRIVATE PkgConfig::UNICORN)
