# Runs the tool on one golden case in a scratch directory. Passes when the
# exit status is 0, standard output is empty, standard error equals the
# case's stderr.txt byte for byte (or is empty when there is none), exactly
# the four output files are written and each equals its golden byte for
# byte, and the label file holds the labels 1 to REGIONS, each at least once,
# and no other.
# Usage: cmake -DTOOL=edgeseg [-DEMULATOR=runner;args] -DINPUT=image.txt
#              -DGOLDEN=tests/golden/<case> -DREGIONS=n -DSCRATCH=dir -P golden_test.cmake
# EMULATOR runs a tool built for another system. Nothing here writes into
# GOLDEN; remake.sh beside this script remakes it.

get_filename_component(case ${GOLDEN} NAME)
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/out)
execute_process(COMMAND ${EMULATOR} ${TOOL} ${INPUT} ${SCRATCH}/out/${case}
  RESULT_VARIABLE status OUTPUT_FILE ${SCRATCH}/stdout ERROR_FILE ${SCRATCH}/stderr)

set(failures "")
if(NOT status STREQUAL "0")
  list(APPEND failures "exit status ${status}, not 0")
endif()
file(READ ${SCRATCH}/stdout out)
if(NOT out STREQUAL "")
  list(APPEND failures "standard output is not empty: ${out}")
endif()

# Files compare through cmake -E compare_files, which reads bytes, so a CR LF
# or a NUL counts like any other byte.
function(expect_same golden written what)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${golden} ${written} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    set(failures ${failures} "${what} differs from ${golden}" PARENT_SCOPE)
  endif()
endfunction()

if(EXISTS ${GOLDEN}/stderr.txt)
  expect_same(${GOLDEN}/stderr.txt ${SCRATCH}/stderr "standard error")
else()
  file(READ ${SCRATCH}/stderr err)
  if(NOT err STREQUAL "")
    list(APPEND failures "standard error is not empty: ${err}")
  endif()
endif()

set(outputs ${case} ${case}_Grad.bmp ${case}_In.bmp ${case}_Reg.bmp)
file(GLOB written RELATIVE ${SCRATCH}/out ${SCRATCH}/out/*)
list(SORT written)
if(NOT written STREQUAL outputs)
  list(APPEND failures "wrote [${written}], not [${outputs}]")
endif()
foreach(name IN LISTS outputs)
  if(EXISTS ${SCRATCH}/out/${name})
    expect_same(${GOLDEN}/${name} ${SCRATCH}/out/${name} ${name})
  endif()
endforeach()

# The regions are numbered from 1 without gaps, so the labels present are
# exactly 1 to REGIONS.
if(EXISTS ${SCRATCH}/out/${case})
  file(READ ${SCRATCH}/out/${case} text)
  string(REGEX MATCHALL "[1-9][0-9]*" labels "${text}")
  list(REMOVE_DUPLICATES labels)
  list(SORT labels COMPARE NATURAL)
  set(expected "")
  if(REGIONS GREATER 0)
    foreach(label RANGE 1 ${REGIONS})
      list(APPEND expected ${label})
    endforeach()
  endif()
  if(NOT labels STREQUAL expected)
    list(APPEND failures "labels [${labels}], not 1 to ${REGIONS}")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "${case}, kept in ${SCRATCH}:\n  ${report}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
