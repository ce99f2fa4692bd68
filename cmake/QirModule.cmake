# The modules' sources and flags, read from cmake/modules.mk (which
# toolbox/make.m and the Octave package's Makefile read too), and the
# embedded host's module builds.
#
# Reading the file sets a variable of the same name for each of its lines,
# every value a list; the paths (QIR_GROUP_* and *_FILE) absolute.
#
#   qir_module_sources(<module> <out>)     the module's sources, every group
#   qir_source_dirs(<out> <source>...)     their folders: a module's include path
#   qir_module_flags(<target>)             hidden symbols, no GNU unique symbols
#   qir_module_properties(<target>)        the above, and the one export
#   qir_add_module(<module> [WITH_REFERENCE])   for the embedded host
include_guard(GLOBAL)

set(QIR_BUILD_LIST ${CMAKE_CURRENT_LIST_DIR}/modules.mk)

function(_qir_read_build_list)
  get_filename_component(root ${CMAKE_CURRENT_FUNCTION_LIST_DIR} DIRECTORY)
  file(READ ${QIR_BUILD_LIST} text)
  # Comments go first: they may hold what a CMake list cannot.
  string(REGEX REPLACE "#[^\n]*" "" text "${text}")
  string(REGEX REPLACE "\\\\\r?\n" " " text "${text}")
  string(REGEX REPLACE "\r?\n" ";" lines "${text}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z0-9_]+)[ \t]*=[ \t]*(.*)$")
      set(name ${CMAKE_MATCH_1})
      separate_arguments(words UNIX_COMMAND "${CMAKE_MATCH_2}")
      if(name MATCHES "^QIR_GROUP_|_FILE$")
        list(TRANSFORM words PREPEND ${root}/)
      endif()
      set(${name} ${words} PARENT_SCOPE)
    elseif(NOT line MATCHES "^[ \t\r]*$")
      message(FATAL_ERROR "QIR: ${QIR_BUILD_LIST}: not a NAME = words line: ${line}")
    endif()
  endforeach()
endfunction()
_qir_read_build_list()
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QIR_BUILD_LIST})

function(qir_module_sources module out)
  if(NOT DEFINED QIR_MODULE_${module})
    message(FATAL_ERROR "QIR: ${module} is not a module of ${QIR_BUILD_LIST}")
  endif()
  set(sources)
  foreach(group IN LISTS QIR_MODULE_${module})
    if(NOT DEFINED QIR_GROUP_${group})
      message(FATAL_ERROR "QIR: ${QIR_BUILD_LIST} names no group ${group} (of ${module})")
    endif()
    list(APPEND sources ${QIR_GROUP_${group}})
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

function(qir_source_dirs out)
  set(dirs)
  foreach(source IN LISTS ARGN)
    get_filename_component(dir ${source} DIRECTORY)
    list(APPEND dirs ${dir})
  endforeach()
  list(REMOVE_DUPLICATES dirs)
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

# Everything compiled into a module: hidden symbols, so that two modules
# loaded into one process never share core symbols or module-wide counters;
# no GNU unique symbols, which would pin the module in memory and keep its
# counters alive across an unload.
function(qir_module_flags target)
  target_compile_options(${target} PRIVATE
    "$<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:${QIR_GCC_MODULE_FLAGS}>"
    "$<$<CXX_COMPILER_ID:GNU>:${QIR_GNU_MODULE_FLAGS}>")
endfunction()

# Flags every module build shares, whichever host it is built for: the
# above, and one exported symbol with every reference resolved at link
# time. Each linker says so its own way; on Windows the export is
# mexFunction's dllexport and a DLL has no undefined references anyway.
function(qir_module_properties target)
  set_target_properties(${target} PROPERTIES PREFIX "" POSITION_INDEPENDENT_CODE ON)
  qir_module_flags(${target})
  if(APPLE)
    target_link_options(${target} PRIVATE
      LINKER:-exported_symbol,_mexFunction LINKER:-undefined,error)
  elseif(NOT WIN32)
    target_link_options(${target} PRIVATE
      LINKER:--version-script=${QIR_EXPORTS_MAP_FILE} LINKER:--no-undefined)
  endif()
endfunction()

# qir_add_module(<module> [WITH_REFERENCE]): a module for the embedded
# host, written to <build>/modules/<module>.so. Groups with a static
# library of their own (qir_<group>: the node core, the fast path) are
# linked from it; the others are compiled into the module. WITH_REFERENCE
# also builds <module>_reference from the same sources with the plain
# node-at-a-time search: what the tests and benchmarks compare the packed
# search with. It goes to <build>/reference-modules, away from the modules
# users load.
function(_qir_embedded_module target module)
  set(sources)
  set(libraries)
  foreach(group IN LISTS QIR_MODULE_${module})
    set(type)
    if(TARGET qir_${group})
      get_target_property(type qir_${group} TYPE)
    endif()
    if(type STREQUAL "STATIC_LIBRARY")
      list(APPEND libraries qir_${group})
    else()
      list(APPEND sources ${QIR_GROUP_${group}})
    endif()
  endforeach()
  if(WIN32)
    list(APPEND sources ${QIR_VERSION_RESOURCE_FILE})
  endif()
  add_library(${target} MODULE ${sources})
  qir_source_dirs(dirs ${sources})
  target_include_directories(${target} PRIVATE ${dirs})
  target_link_libraries(${target} PRIVATE ${libraries} qirhost)
  qir_module_properties(${target})
  # Installed, a module finds the embedded host's library beside itself.
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
endfunction()

function(qir_add_module module)
  cmake_parse_arguments(ARG "WITH_REFERENCE" "" "" ${ARGN})
  _qir_embedded_module(${module} ${module})
  if(ARG_WITH_REFERENCE)
    _qir_embedded_module(${module}_reference ${module})
    target_compile_definitions(${module}_reference PRIVATE QIR_PLAIN_SEARCH)
    set_target_properties(${module}_reference PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/reference-modules)
  endif()
endfunction()
