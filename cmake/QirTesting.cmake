# The test suites are an option, so that building the modules, the command
# or the demo needs no test libraries.
#
#   QIR_TESTS          option; ON by default when GoogleTest is found. ON
#                      builds every suite under tests/ and the benchmarks'
#                      smoke tests, and needs GoogleTest.
#   QIR_TEST_TIMEOUT   seconds any test may run unless it sets a TIMEOUT of
#                      its own: a hang fails its test instead of stalling CI.
#                      It reaches every test, GoogleTest cases included,
#                      through CTest's default (DartConfiguration.tcl).
include_guard(GLOBAL)

find_package(GTest QUIET)
option(QIR_TESTS "Build the test suites (needs GoogleTest)" ${GTest_FOUND})
set(QIR_TEST_TIMEOUT 300 CACHE STRING "Default time limit of each test, in seconds")

if(QIR_TESTS)
  if(NOT GTest_FOUND)
    message(FATAL_ERROR
      "QIR_TESTS is ON but GoogleTest was not found: install libgtest-dev, "
      "or configure with -DQIR_TESTS=OFF to build without the tests")
  endif()
  set(DART_TESTING_TIMEOUT ${QIR_TEST_TIMEOUT})
  set(BUILD_TESTING ON)
  # CTest for its default time limit only, not its dashboard targets.
  set_property(GLOBAL PROPERTY CTEST_TARGETS_ADDED 1)
  include(CTest)
else()
  message(STATUS "QIR: tests not built (QIR_TESTS is OFF)")
endif()
