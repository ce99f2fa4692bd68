# Extension modules export mexFunction and nothing else: the core is compiled
# into each module with hidden visibility, so two modules loaded into one
# process never share core symbols or module-wide counters.
set(QIR_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/mexfunction.map CACHE INTERNAL "")

# Flags every module build shares, whichever host it is built for.
function(qir_module_properties target)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  # Unique symbols would pin the module in memory and keep its counters
  # alive across an unload.
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
  # One exported symbol, and every reference resolved at link time. Each
  # linker says so its own way; on Windows the export is mexFunction's
  # dllexport and a DLL has no undefined references anyway.
  if(APPLE)
    target_link_options(${target} PRIVATE
      LINKER:-exported_symbol,_mexFunction LINKER:-undefined,error)
  elseif(NOT WIN32)
    target_link_options(${target} PRIVATE
      LINKER:--version-script=${QIR_EXPORTS_MAP} LINKER:--no-undefined)
  endif()
endfunction()

# qir_add_module(<name> SOURCES ... [WITH_REFERENCE]): a module for the
# embedded host, written to <build>/modules/<name>.so. WITH_REFERENCE also
# builds <name>_reference from the same sources with the plain
# node-at-a-time search: what the tests and benchmarks compare the packed
# search with. It goes to <build>/reference-modules, away from the modules
# users load.
function(qir_add_module name)
  cmake_parse_arguments(ARG "WITH_REFERENCE" "" "SOURCES" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${QIR_CORE_DIR}/qir_version.rc)
  endif()
  add_library(${name} MODULE ${sources})
  target_link_libraries(${name} PRIVATE qir_fast qir_core qirhost)
  qir_module_properties(${name})
  if(ARG_WITH_REFERENCE)
    qir_add_module(${name}_reference SOURCES ${ARG_SOURCES})
    target_compile_definitions(${name}_reference PRIVATE QIR_PLAIN_SEARCH)
    set_target_properties(${name}_reference PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/reference-modules)
  endif()
endfunction()
