# GNU Octave modules: the sources of the embedded host's modules compiled
# against Octave's own mex.h (never host/include) and linked the way
# `mkoctfile --mex` links, into <build>/octave/<name>.mex, so that one build
# and one ctest cover both hosts.
#
#   QIR_OCTAVE               option; ON by default when mkoctfile is found
#   QIR_OCTAVE_ENABLED       set when the Octave modules are built
#   QIR_OCTAVE_CLI           octave-cli, which runs the Octave tests
#   QIR_OCTAVE_MODULE_DIR    where the .mex files go
#   qir_add_octave_module(<module> ...)   target <module>_octave
#
# Octave has no mexAddFlops: each module carries its own, hidden like
# everything but mexFunction. Nor has it libut: the modules answer their
# interrupt poll from the interpreter's own state (both files named in
# cmake/modules.mk).
include_guard(GLOBAL)

find_program(QIR_MKOCTFILE NAMES mkoctfile DOC "Octave's mkoctfile")
find_program(QIR_OCTAVE_CLI NAMES octave-cli octave DOC "Octave interpreter for the tests")

if(QIR_MKOCTFILE)
  set(_qir_octave_default ON)
else()
  set(_qir_octave_default OFF)
endif()
option(QIR_OCTAVE "Build the GNU Octave modules and run the Octave tests" ${_qir_octave_default})

set(QIR_OCTAVE_ENABLED OFF)
set(QIR_OCTAVE_MODULE_DIR ${CMAKE_BINARY_DIR}/octave)

if(QIR_OCTAVE AND QIR_SANITIZE)
  # Octave itself is not built with the sanitizers, so it cannot load
  # modules that need their runtime.
  message(STATUS "QIR: sanitizer build, GNU Octave modules and tests skipped")
elseif(QIR_OCTAVE)
  if(NOT QIR_MKOCTFILE)
    message(FATAL_ERROR
      "QIR_OCTAVE is ON but mkoctfile was not found: install octave and octave-dev, "
      "or configure with -DQIR_OCTAVE=OFF")
  endif()
  set(QIR_OCTAVE_ENABLED ON)
endif()

# One configuration value of mkoctfile, split into arguments.
function(_qir_mkoctfile_value variable out)
  execute_process(COMMAND ${QIR_MKOCTFILE} -p ${variable}
    OUTPUT_VARIABLE value ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "QIR: `mkoctfile -p ${variable}` failed")
  endif()
  separate_arguments(value UNIX_COMMAND "${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

if(QIR_OCTAVE_ENABLED)
  _qir_mkoctfile_value(INCFLAGS incflags)
  set(include_dirs)
  foreach(flag IN LISTS incflags)
    if(flag MATCHES "^-I(.+)$")
      get_filename_component(dir "${CMAKE_MATCH_1}" REALPATH)
      list(APPEND include_dirs ${dir})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES include_dirs)
  find_path(_qir_octave_mex_h mex.h PATHS ${include_dirs} NO_DEFAULT_PATH NO_CACHE)
  if(NOT _qir_octave_mex_h)
    message(FATAL_ERROR "QIR: Octave's mex.h not found in ${include_dirs}")
  endif()

  # The libraries the module's mex calls resolve against. mkoctfile leaves
  # them out on some platforms (the interpreter supplies the symbols at
  # load time); naming them lets --no-undefined check every call.
  _qir_mkoctfile_value(OCTLIBDIR libdir)
  set(libraries)
  foreach(lib octinterp octave)
    find_library(_qir_lib_${lib} NAMES ${lib} PATHS ${libdir} NO_DEFAULT_PATH NO_CACHE)
    if(NOT _qir_lib_${lib})
      message(FATAL_ERROR "QIR: lib${lib} not found in ${libdir}")
    endif()
    list(APPEND libraries ${_qir_lib_${lib}})
  endforeach()

  # mkoctfile's own link flags, less -shared, which a MODULE target has.
  _qir_mkoctfile_value(DL_LDFLAGS dl_ldflags)
  _qir_mkoctfile_value(OCT_LINK_OPTS link_opts)
  set(link_flags ${dl_ldflags} ${link_opts})
  list(REMOVE_ITEM link_flags -shared)

  set(QIR_OCTAVE_INCLUDE_DIRS ${include_dirs})
  set(QIR_OCTAVE_LIBRARIES ${libraries})
  set(QIR_OCTAVE_LINK_FLAGS ${link_flags})
  message(STATUS "QIR: GNU Octave modules enabled (mex.h in ${_qir_octave_mex_h})")
endif()

# Code that several builds compile alike is compiled once and its objects
# linked where it is listed: the library's part of the gateway
# (qir_lib_module_code, lib/) and the node core with the fast path and
# what Octave lacks, which both Octave modules carry (qir_octave_node_code).
# Each module still gets its own copy, its symbols hidden in it.
function(_qir_octave_shared_code sources_var)
  set(sources ${${sources_var}})
  set(node_code ${QIR_GROUP_core} ${QIR_GROUP_fast} ${QIR_ADD_FLOPS_FALLBACK_FILE}
      ${QIR_OCTAVE_INTERRUPT_FILE})
  foreach(shared qir_lib_module_code qir_octave_node_code)
    if(shared STREQUAL "qir_octave_node_code")
      set(code ${node_code})
    elseif(TARGET ${shared})
      get_target_property(code ${shared} SOURCES)
    else()
      continue()
    endif()
    set(missing ${code})
    list(REMOVE_ITEM missing ${sources})
    if(missing)
      continue()
    endif()
    if(NOT TARGET ${shared})
      add_library(${shared} OBJECT ${code})
      qir_source_dirs(dirs ${code})
      target_include_directories(${shared} PRIVATE ${dirs})
      target_include_directories(${shared} SYSTEM PRIVATE ${QIR_OCTAVE_INCLUDE_DIRS})
      target_compile_definitions(${shared} PRIVATE ${QIR_ADD_FLOPS_FALLBACK_DEFINE})
      set_target_properties(${shared} PROPERTIES POSITION_INDEPENDENT_CODE ON)
      qir_module_flags(${shared})
    endif()
    list(REMOVE_ITEM sources ${code})
    list(APPEND sources $<TARGET_OBJECTS:${shared}>)
  endforeach()
  set(${sources_var} ${sources} PARENT_SCOPE)
endfunction()

# qir_add_octave_module(<module> [HELP <file.m>] [DESTINATION <dir>]):
# <build>/octave/<module>.mex from the module's sources (cmake/modules.mk)
# and what Octave lacks, with the flags every module build shares
# (QirModule.cmake). BARE SOURCES ... builds the given sources alone (the
# benchmarks' baseline modules); DESTINATION puts the file elsewhere.
function(qir_add_octave_module name)
  cmake_parse_arguments(ARG "BARE" "HELP;DESTINATION" "SOURCES" ${ARGN})
  set(target ${name}_octave)
  set(destination ${QIR_OCTAVE_MODULE_DIR})
  if(ARG_DESTINATION)
    set(destination ${ARG_DESTINATION})
  endif()
  if(ARG_BARE)
    # Compiled alone, but with the node core's headers at hand.
    set(sources ${ARG_SOURCES} ${QIR_GROUP_core})
    qir_source_dirs(source_dirs ${sources})
    set(sources ${ARG_SOURCES})
  else()
    qir_module_sources(${name} sources)
    list(APPEND sources ${QIR_ADD_FLOPS_FALLBACK_FILE} ${QIR_OCTAVE_INTERRUPT_FILE})
    if(WIN32)
      list(APPEND sources ${QIR_VERSION_RESOURCE_FILE})
    endif()
    qir_source_dirs(source_dirs ${sources})
    _qir_octave_shared_code(sources)
  endif()

  add_library(${target} MODULE ${sources})
  qir_module_properties(${target})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    SUFFIX ".mex"
    LIBRARY_OUTPUT_DIRECTORY ${destination}
    # Octave has its libraries loaded already; no search path, as with mkoctfile.
    SKIP_BUILD_RPATH ON)
  target_include_directories(${target} PRIVATE ${source_dirs})
  # SYSTEM: Octave's headers are not ours to keep warnings-clean.
  target_include_directories(${target} SYSTEM PRIVATE ${QIR_OCTAVE_INCLUDE_DIRS})
  target_compile_definitions(${target} PRIVATE ${QIR_ADD_FLOPS_FALLBACK_DEFINE})
  target_link_options(${target} PRIVATE ${QIR_OCTAVE_LINK_FLAGS})
  target_link_libraries(${target} PRIVATE ${QIR_OCTAVE_LIBRARIES} Threads::Threads)
  if(ARG_HELP)
    # `help name` reads the stub beside the module; the module still wins
    # the call.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ARG_HELP} ${destination}/)
  endif()
endfunction()
