# A guest C program, built with the SDK in both byte orders, that works the
# file service through the SDK's wrappers.
foreach(endian IN ITEMS little big)
  set(name files_probe_${endian})
  tarvel_add_guest_app(NAME ${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/guest/file_probe.c ENDIAN ${endian} ISA thumb)
  if(TARGET ${name})
    add_dependencies(${test_target} ${name})
    string(TOUPPER ${endian} upper)
    target_compile_definitions(${test_target} PRIVATE FILES_PROBE_${upper}_CBE="${${name}_CBE}")
  endif()
endforeach()

# A guest C program, built with the SDK in both byte orders, that opens,
# sends and requests through the SDK's network wrappers and logs what its
# callback receives tick by tick.
foreach(endian IN ITEMS little big)
  set(name net_probe_${endian})
  tarvel_add_guest_app(NAME ${name} SOURCES ${CMAKE_CURRENT_LIST_DIR}/guest/net_probe.c ENDIAN ${endian} ISA thumb)
  if(TARGET ${name})
    add_dependencies(${test_target} ${name})
    string(TOUPPER ${endian} upper)
    target_compile_definitions(${test_target} PRIVATE NET_PROBE_${upper}_CBE="${${name}_CBE}")
  endif()
endforeach()
