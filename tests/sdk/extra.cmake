# The SDK tests: tiny guest programs built with the SDK in every byte order
# and instruction set, packed by cbe-pack, and the runtime helpers run on
# Unicorn (an ARMv4T model) since they are guest code.
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
target_link_libraries(${test_target} PRIVATE PkgConfig::UNICORN tarvel_cbe_pack)

set(sdk_probe_source ${CMAKE_CURRENT_LIST_DIR}/guest/probe.c ${CMAKE_CURRENT_LIST_DIR}/guest/services.c)
set(sdk_probe_resources ${CMAKE_CURRENT_LIST_DIR}/guest/resources)
set(sdk_probe_definitions "")
foreach(variant
    "thumb_le;thumb;little;"
    "thumb_be;thumb;big;"
    "arm_le;arm;little;"
    "arm_be;arm;big;"
    "explicit_be;thumb;big;0x00400000"
    "native_be;arm;big;0x00400000")
  list(GET variant 0 tag)
  list(GET variant 1 isa)
  list(GET variant 2 endian)
  list(GET variant 3 load)
  set(options "")
  if(tag STREQUAL "native_be")
    set(options --native)
  endif()
  tarvel_add_guest_app(NAME sdk_probe_${tag} SOURCES ${sdk_probe_source}
    ENDIAN ${endian} ISA ${isa} RESOURCES ${sdk_probe_resources}
    LOAD_ADDRESS "${load}" PACK_OPTIONS ${options}
    # probe_run is called only by the tests: keep it through --gc-sections.
    LINK_OPTIONS -Wl,--require-defined=probe_run -Wl,--require-defined=probe_resource_numbers
    -Wl,--require-defined=probe_services)
  if(TARGET sdk_probe_${tag})
    add_dependencies(${test_target} sdk_probe_${tag})
    string(TOUPPER ${tag} upper)
    list(APPEND sdk_probe_definitions
      SDK_PROBE_${upper}_CBE="${sdk_probe_${tag}_CBE}"
      SDK_PROBE_${upper}_ELF="${sdk_probe_${tag}_ELF}")
  endif()
endforeach()
if(TARVEL_GUEST_APPS_AVAILABLE)
  target_compile_definitions(${test_target} PRIVATE TARVEL_HAVE_GUEST_APPS=1 ${sdk_probe_definitions}
    SDK_PROBE_RESOURCES="${sdk_probe_resources}")
endif()

# The demo's game rules are plain C and run on the host as well.
target_sources(${test_target} PRIVATE ${CMAKE_SOURCE_DIR}/apps/demo/game.c)
