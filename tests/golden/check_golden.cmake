# The golden identity check: runs the fixed module calls (qir_golden_calls)
# and, when QIR is given, a fixed set of `qir train` / `qir classify` runs;
# reduces each result to a digest line and compares the lines with the
# committed EXPECTED file, reporting the first line that differs.
#
#   cmake -DCALLS=<qir_golden_calls> -DTRAIN=<module> -DPERF=<module>
#         [-DQIR=<qir> -DDATA_DIR=<data>] -DEXPECTED=<file> -DWORK=<dir>
#         [-DLAUNCHER=<emulator;args>] [-DUPDATE=ON] -P check_golden.cmake
#
# UPDATE=ON rewrites EXPECTED: only ever from the reference build (x86-64
# with GCC), after a deliberate change of results or text.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(lines)

execute_process(COMMAND ${LAUNCHER} ${CALLS} ${TRAIN} ${PERF} ${WORK}
  OUTPUT_VARIABLE calls ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "qir_golden_calls failed (${status}): ${errors}")
endif()
string(REGEX REPLACE "\r?\n$" "" calls "${calls}")
string(REGEX REPLACE "\r?\n" ";" calls "${calls}")
list(APPEND lines ${calls})

# One run of the command: digests of its console text and of each file it
# writes. Files are named relative to WORK so no path shows in the text.
function(qir_run name)
  cmake_parse_arguments(ARG "" "" "ARGS;FILES" ${ARGN})
  execute_process(COMMAND ${LAUNCHER} ${QIR} ${ARG_ARGS}
    WORKING_DIRECTORY ${WORK}
    OUTPUT_VARIABLE console ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "qir ${ARG_ARGS} failed (${status}): ${errors}")
  endif()
  string(REGEX REPLACE " in [0-9]+ seconds" " in 0 seconds" console "${console}")
  string(SHA256 digest "${console}${errors}")
  string(SUBSTRING ${digest} 0 16 digest)
  set(out "command ${name}-console ${digest}")
  foreach(file IN LISTS ARG_FILES)
    file(SHA256 ${WORK}/${file} digest)
    string(SUBSTRING ${digest} 0 16 digest)
    list(APPEND out "command ${name}-${file} ${digest}")
  endforeach()
  set(lines ${lines} ${out} PARENT_SCOPE)
endfunction()

if(QIR)
  qir_run(iris-train ARGS train ${DATA_DIR}/iris.csv -o iris.model --D 1 --ratio 0.5
    --vigilance 0.75 --alpha 0.001 --learning-rate 1 --max-presentations 100 --trim 1 --ct 0
    --voters 1 --shuffle 0 --oflag 1 FILES iris.model)
  qir_run(iris-classify ARGS classify iris.model ${DATA_DIR}/iris.csv -o iris-labels.csv
    --oflag 1 FILES iris-labels.csv)
  qir_run(iris-classify-trace ARGS classify iris.model ${DATA_DIR}/iris.csv -o iris-trace.csv
    --vigilance 0.9 --ct 1 --unknown-label -1 --oflag 3 FILES iris-trace.csv)
  qir_run(circle-train ARGS train ${DATA_DIR}/circle_train.csv -o circle.model --D 1
    --ratio 0.2 --vigilance 0.85 --alpha 0.01 --learning-rate 0.6 --max-presentations 30
    --trim 0 --ct 1 --voters 1 --shuffle 0 --oflag 2 FILES circle.model)
  qir_run(circle-classify ARGS classify circle.model ${DATA_DIR}/circle_test.csv
    -o circle-labels.csv --oflag 2 FILES circle-labels.csv)
  qir_run(circle-train-D0 ARGS train ${DATA_DIR}/circle_train.csv -o circle-d0.model --D 0
    --ratio 0.5 --vigilance 0.5 --alpha 0 --learning-rate 1 --max-presentations 2 --trim 1
    --ct 1 --voters 1 --shuffle 0 --oflag 3 FILES circle-d0.model)
endif()

if(UPDATE)
  list(JOIN lines "\n" text)
  file(WRITE ${EXPECTED} "${text}\n")
  list(LENGTH lines count)
  message(STATUS "golden: wrote ${count} digests to ${EXPECTED}")
  return()
endif()

file(STRINGS ${EXPECTED} expected)
if(NOT QIR)
  list(FILTER expected INCLUDE REGEX "^call ")
endif()
list(JOIN lines "\n" text)
file(WRITE ${WORK}/actual.txt "${text}\n")
list(LENGTH expected expected_count)
list(LENGTH lines actual_count)
set(k 0)
while(k LESS expected_count OR k LESS actual_count)
  set(want "(nothing)")
  set(got "(nothing)")
  if(k LESS expected_count)
    list(GET expected ${k} want)
  endif()
  if(k LESS actual_count)
    list(GET lines ${k} got)
  endif()
  if(NOT want STREQUAL got)
    math(EXPR line "${k} + 1")
    message(FATAL_ERROR "golden: identity lost at line ${line}\n  expected: ${want}\n  actual:   ${got}\n"
      "(all digests in ${WORK}/actual.txt; outputs of the command runs in ${WORK})")
  endif()
  math(EXPR k "${k} + 1")
endwhile()
message(STATUS "golden: ${actual_count} digests identical")
