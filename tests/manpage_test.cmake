# Renders the man page as groff and man(1) do and fails on any warning, or
# when a message the tool prints is missing from it word for word.
# Usage: cmake -DPAGE=docs/edgeseg.1 -P manpage_test.cmake

execute_process(COMMAND groff -ww -z -man ${PAGE}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "groff -ww -z -man: status ${status}\n${err}")
endif()

# A fixed width and locale make the rendering the same on every machine;
# with standard output not a terminal, man writes the page without a pager.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 LC_ALL=C.UTF-8 MANPAGER=cat
          man --warnings=w -l ${PAGE}
  RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "man -l: status ${status}\n${err}")
endif()

foreach(text "SYNOPSIS" "edgeseg input outbase" "To few parameters" "Input file does not exists"
             "Wrong input file format" "Execution error" "sqrt: DOMAIN error")
  string(FIND "${page}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the rendered page lacks \"${text}\":\n${page}")
  endif()
endforeach()
