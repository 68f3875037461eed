# Configures the project with its tests on, GoogleTest hidden as on a machine
# without it: configuring must fail and name the Debian package to install.
# Usage: cmake -DSOURCE=<dir> -DSCRATCH=<dir> -DGENERATOR=<name> -DCOMPILER=<c++> -P configure_test.cmake

file(REMOVE_RECURSE ${SCRATCH})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${SCRATCH} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${COMPILER}
          -DBUILD_TESTING=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "libgtest-dev")
  message(FATAL_ERROR "configure without GoogleTest: status ${status}, expected a failure naming libgtest-dev\n${out}${err}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
