# Runs the tool, through EMULATOR when there is one, on a failure of each
# kind and checks the exit status that a program of the build machine sees
# (the low eight bits of main's -1 and -2) and the message on standard
# output, with no line end.
# Usage: cmake -DTOOL=edgeseg [-DEMULATOR=runner;args] -DSCRATCH=dir -P exit_status_test.cmake

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
# Three columns leave the statistics without samples: an error of the run.
file(WRITE ${SCRATCH}/narrow.txt "0 1 2\n0 1 2\n0 1 2\n0 1 2\n0 1 2\n")

set(failures "")
function(expect status message)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN}
    RESULT_VARIABLE got OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT got STREQUAL status OR NOT out STREQUAL message OR NOT err STREQUAL "")
    set(failures ${failures} "[${ARGN}]: status ${got}, output \"${out}\", error \"${err}\"" PARENT_SCOPE)
  endif()
endfunction()

expect(255 "To few parameters")
expect(255 "Input file does not exists" ${SCRATCH}/missing ${SCRATCH}/out)
expect(254 "Execution error" ${SCRATCH}/narrow.txt ${SCRATCH}/out)

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "exit statuses:\n  ${report}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
