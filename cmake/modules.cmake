# tarvel_module(<name> DIR <folder under src> [USES <modules...>] [LIBS <targets...>]
#               [EXCLUDE <file names...>])
#
# Declares the static library tarvel_<name> from every .cpp below DIR, linked
# with the modules it USES and the external LIBS. The include root is the
# folder holding DIR (src/), so headers are named "module/file.hpp".
#
# The layering is checked while configuring: every quoted include in a source
# or header of the module must name a header of the module itself or of a
# module it uses (directly or through another module), and only the libretro
# module may include <libretro.h>. A wrong include stops the configure step
# with a message for each file and rule broken, so it cannot slip into a
# build (tarvel_check_layout, after the last module). The same check runs on a
# small bad tree in the tests.
include_guard(GLOBAL)

# Longest registered module folder that is a prefix of `path`, or "".
function(_tarvel_owner_of path out)
  get_property(dirs GLOBAL PROPERTY TARVEL_MODULE_DIRS)
  set(best "")
  set(best_len 0)
  foreach(dir IN LISTS dirs)
    string(LENGTH "${dir}/" len)
    string(SUBSTRING "${path}" 0 ${len} head)
    if(head STREQUAL "${dir}/" AND len GREATER best_len)
      set(best "${dir}")
      set(best_len ${len})
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

# Every module `name` may use: itself and the closure of its USES.
function(_tarvel_closure name out)
  set(result ${name})
  get_property(uses GLOBAL PROPERTY TARVEL_MODULE_USES_${name})
  foreach(dep IN LISTS uses)
    _tarvel_closure(${dep} sub)
    list(APPEND result ${sub})
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(_tarvel_check_includes name root dir)
  _tarvel_closure(${name} allowed_modules)
  set(allowed_dirs "")
  foreach(module IN LISTS allowed_modules)
    get_property(d GLOBAL PROPERTY TARVEL_MODULE_DIR_${module})
    list(APPEND allowed_dirs "${d}")
  endforeach()
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${root}/${dir}/*.cpp" "${root}/${dir}/*.hpp" "${root}/${dir}/*.c")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH shown "${root}" "${file}")
    # A file in a nested module folder belongs to that module, not to this one.
    _tarvel_owner_of("${shown}" file_owner)
    if(NOT file_owner STREQUAL "${dir}")
      continue()
    endif()
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
      if(line MATCHES "<libretro\\.h>" AND NOT name STREQUAL "libretro_api")
        message(SEND_ERROR "${shown}: only the libretro module may include <libretro.h>")
      endif()
      if(NOT line MATCHES "\"([^\"]+)\"")
        continue()
      endif()
      set(header "${CMAKE_MATCH_1}")
      _tarvel_owner_of("${header}" owner)
      if(owner STREQUAL "")
        continue()  # not a module header (a generated or same-folder file)
      endif()
      list(FIND allowed_dirs "${owner}" found)
      if(found EQUAL -1)
        message(SEND_ERROR "${shown}: module ${dir}/ may not include \"${header}\" "
          "(it uses only: ${allowed_dirs})")
      endif()
    endforeach()
  endforeach()
endfunction()

function(tarvel_module name)
  cmake_parse_arguments(ARG "" "DIR" "USES;LIBS;EXCLUDE" ${ARGN})
  set(root "${CMAKE_CURRENT_SOURCE_DIR}")
  set_property(GLOBAL APPEND PROPERTY TARVEL_MODULE_DIRS "${ARG_DIR}")
  set_property(GLOBAL PROPERTY TARVEL_MODULE_DIR_${name} "${ARG_DIR}")
  set_property(GLOBAL PROPERTY TARVEL_MODULE_USES_${name} "${ARG_USES}")

  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${root}/${ARG_DIR}/*.cpp")
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${excluded}$")
  endforeach()
  # Sources of nested module folders (none today) go to their own module.
  set(own_sources "")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH rel "${root}" "${source}")
    _tarvel_owner_of("${rel}" owner)
    if(owner STREQUAL "${ARG_DIR}")
      list(APPEND own_sources "${source}")
    endif()
  endforeach()

  add_library(tarvel_${name} STATIC ${own_sources})
  target_include_directories(tarvel_${name} PUBLIC "${root}")
  set(deps "")
  foreach(dep IN LISTS ARG_USES)
    list(APPEND deps tarvel_${dep})
  endforeach()
  target_link_libraries(tarvel_${name} PUBLIC ${deps} ${ARG_LIBS})
  set_property(GLOBAL APPEND PROPERTY TARVEL_MODULES ${name})
  set_property(GLOBAL PROPERTY TARVEL_MODULE_ROOT "${root}")
endfunction()

# Checks every declared module's includes; call once after the last tarvel_module,
# so that an include of a module declared later is recognised too.
function(tarvel_check_layout)
  get_property(modules GLOBAL PROPERTY TARVEL_MODULES)
  get_property(root GLOBAL PROPERTY TARVEL_MODULE_ROOT)
  foreach(module IN LISTS modules)
    get_property(dir GLOBAL PROPERTY TARVEL_MODULE_DIR_${module})
    _tarvel_check_includes(${module} "${root}" "${dir}")
  endforeach()
endfunction()
