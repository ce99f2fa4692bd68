# MATLAB modules, built with CMake's FindMatlab when it finds a MATLAB
# installation: <build>/matlab/qir_train.<mexext> and qir_perf.<mexext>,
# each with its help file copied next to it. They use the R2017b (separate
# complex) API, since the modules read their data through mxGetPr.
#
#   QIR_MATLAB              option, ON: look for MATLAB (pass -DMatlab_ROOT_DIR=
#                           to pick an installation)
#   QIR_MATLAB_ENABLED      set when MATLAB was found and the modules are built
#   qir_add_matlab_module(<module> [HELP <file.m>] [DESTINATION <dir>])   target <module>_matlab
#
# No MATLAB is available where this project is built and tested, so this
# path is kept to the minimum and is not covered by ctest; toolbox/make.m
# is the supported way to build inside MATLAB.
include_guard(GLOBAL)

option(QIR_MATLAB "Build the MATLAB modules when MATLAB is found" ON)
set(QIR_MATLAB_ENABLED OFF)
if(QIR_MATLAB AND NOT QIR_SANITIZE)
  find_package(Matlab QUIET COMPONENTS MX_LIBRARY)
  if(Matlab_FOUND)
    set(QIR_MATLAB_ENABLED ON)
    # Releases that still count operations declare mexAddFlops; for the
    # others each module supplies its own.
    find_file(_qir_matlab_mex_h mex.h PATHS ${Matlab_INCLUDE_DIRS} NO_DEFAULT_PATH NO_CACHE)
    set(_qir_matlab_has_add_flops)
    if(_qir_matlab_mex_h)
      file(STRINGS ${_qir_matlab_mex_h} _qir_matlab_has_add_flops REGEX "mexAddFlops")
    endif()
    # utIsInterruptPending, which the modules poll for Ctrl-C, lives in
    # libut beside the MX library; FindMatlab does not name it.
    get_filename_component(_qir_matlab_lib_dir "${Matlab_MX_LIBRARY}" DIRECTORY)
    set(QIR_MATLAB_LIBRARY_FILES)
    foreach(library IN LISTS QIR_MATLAB_LIBRARIES)
      find_library(QIR_MATLAB_${library}_LIBRARY NAMES ${library} lib${library}
                   PATHS ${_qir_matlab_lib_dir} NO_DEFAULT_PATH)
      if(NOT QIR_MATLAB_${library}_LIBRARY)
        message(FATAL_ERROR "QIR: MATLAB's lib${library} not found in ${_qir_matlab_lib_dir}")
      endif()
      list(APPEND QIR_MATLAB_LIBRARY_FILES ${QIR_MATLAB_${library}_LIBRARY})
    endforeach()
    message(STATUS "QIR: MATLAB modules enabled (${Matlab_ROOT_DIR})")
  endif()
endif()

function(qir_add_matlab_module name)
  cmake_parse_arguments(ARG "" "HELP;DESTINATION" "" ${ARGN})
  set(target ${name}_matlab)
  set(destination ${CMAKE_BINARY_DIR}/matlab)
  if(ARG_DESTINATION)
    set(destination ${ARG_DESTINATION})
  endif()
  qir_module_sources(${name} sources)
  if(NOT _qir_matlab_has_add_flops)
    list(APPEND sources ${QIR_ADD_FLOPS_FALLBACK_FILE})
  endif()
  if(WIN32)
    list(APPEND sources ${QIR_VERSION_RESOURCE_FILE})
  endif()
  set(help)
  if(ARG_HELP)
    set(help DOCUMENTATION ${ARG_HELP})
  endif()
  qir_source_dirs(source_dirs ${sources})

  # matlab_add_mex supplies MATLAB's include path, libraries and export list.
  matlab_add_mex(NAME ${target} MODULE R2017b OUTPUT_NAME ${name} SRC ${sources} ${help}
                 LINK_TO ${QIR_MATLAB_LIBRARY_FILES})
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${destination}
    RUNTIME_OUTPUT_DIRECTORY ${destination})
  target_include_directories(${target} PRIVATE ${source_dirs})
  target_link_libraries(${target} Threads::Threads)
  if(NOT _qir_matlab_has_add_flops)
    target_compile_definitions(${target} PRIVATE ${QIR_ADD_FLOPS_FALLBACK_DEFINE})
  endif()
  qir_module_flags(${target})
endfunction()
