# Installs edgeseg as a user would and runs what was installed.
#   MODE=install: `cmake --install` into a fresh prefix; exactly the command,
#     the gzipped man page, the library's headers, archive and CMake package,
#     and each package's copyright and changelog appear; the tool segments a
#     small image, man finds the page, and a program of someone else's
#     (tests/consumer) finds the library with find_package, links it and
#     runs.
#   MODE=afterDemo: the same, in a build tree where only what the demo builds
#     was built since the gzipped pages were removed.
#   MODE=package: `cpack -G DEB`; the packages edgeseg and libedgeseg-dev
#     hold exactly the same files under /usr, and the command runs.
#   Where the build makes the Python module (EDGESEG_PYTHON_MODULE names its
#   extension's file), the install holds it under lib/python3.11/site-packages
#   and Debian's python3 imports it from there, and python3-edgeseg holds it
#   under /usr/lib/python3/dist-packages with its dependencies.
# Usage: cmake -DMODE=install|afterDemo|package -DBUILD=<build dir> -DSCRATCH=<dir> -P install_test.cmake
# SCRATCH is emptied first and removed when the test passes.

function(check_run what expected_status expected_out)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL "${expected_status}" OR NOT out STREQUAL "${expected_out}")
    message(FATAL_ERROR "${what}: status ${status}, output \"${out}\", expected ${expected_status} and \"${expected_out}\"\n${err}")
  endif()
endfunction()

function(run_ok what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what}: status ${status}\n${out}${err}")
  endif()
endfunction()

# The files under DIR, relative to it and sorted; with DIRS, the folders too.
function(list_tree out_var dir)
  file(GLOB_RECURSE entries LIST_DIRECTORIES ${ARGN} RELATIVE ${dir} ${dir}/*)
  list(SORT entries)
  set(${out_var} "${entries}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})

# The library's CMake package holds one file for the build's configuration,
# and a program that links the library is built with the build's compiler
# and flags (a sanitizer build's archive needs the sanitizer at link time).
load_cache(${BUILD} READ_WITH_PREFIX build_ CMAKE_BUILD_TYPE CMAKE_CXX_COMPILER CMAKE_CXX_FLAGS)
string(TOLOWER "${build_CMAKE_BUILD_TYPE}" config)

if(MODE STREQUAL "afterDemo")
  file(REMOVE_RECURSE ${BUILD}/gzipped)
  run_ok("cmake --build --target demo" ${CMAKE_COMMAND} --build ${BUILD} --target demo)
  set(MODE install)
endif()

if(MODE STREQUAL "install")
  set(prefix ${SCRATCH}/prefix)
  run_ok("cmake --install" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
  list_tree(installed ${prefix} false)
  set(library include/edgeseg/edgeseg.h include/edgeseg/gradientstats.h lib/cmake/edgeseg/edgesegConfig.cmake
              lib/cmake/edgeseg/edgesegConfigVersion.cmake lib/cmake/edgeseg/edgesegTargets-${config}.cmake
              lib/cmake/edgeseg/edgesegTargets.cmake lib/libedgeseg.a)
  set(expected bin/edgeseg ${library} share/doc/edgeseg/changelog.gz share/doc/edgeseg/copyright
               share/doc/libedgeseg-dev/changelog.gz share/doc/libedgeseg-dev/copyright share/man/man1/edgeseg.1.gz)
  list(SORT expected)
  # The Python module, where the build makes it (EDGESEG_PYTHON_MODULE names
  # its extension's file).
  set(module $ENV{EDGESEG_PYTHON_MODULE})
  if(module)
    set(site lib/python3.11/site-packages/edgeseg)
    list(APPEND expected ${site}/__init__.py ${site}/${module} share/doc/python3-edgeseg/changelog.gz
                share/doc/python3-edgeseg/copyright)
    list(SORT expected)
  endif()
  if(NOT installed STREQUAL "${expected}")
    message(FATAL_ERROR "installed: ${installed}")
  endif()
  if(module)
    get_filename_component(cells ${CMAKE_CURRENT_LIST_DIR}/../examples/cells.txt ABSOLUTE)
    check_run("installed module" 0 "8\n" ${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${site}/..
              /usr/bin/python3 -c "import edgeseg, numpy\nprint(edgeseg.segment(numpy.loadtxt('${cells}', 'uint16')).regions)")
  endif()

  get_filename_component(source ${CMAKE_CURRENT_LIST_DIR}/consumer ABSOLUTE)
  run_ok("consumer configure" ${CMAKE_COMMAND} -S ${source} -B ${SCRATCH}/consumer -DCMAKE_PREFIX_PATH=${prefix}
         -DCMAKE_BUILD_TYPE=${build_CMAKE_BUILD_TYPE} -DCMAKE_CXX_COMPILER=${build_CMAKE_CXX_COMPILER}
         "-DCMAKE_CXX_FLAGS=${build_CMAKE_CXX_FLAGS}")
  run_ok("consumer build" ${CMAKE_COMMAND} --build ${SCRATCH}/consumer)
  check_run("consumer" 0 "1 255 0 0" ${SCRATCH}/consumer/consumer)

  # A bright 4 x 4 square on a dark 8 x 8 ground: one region after erosion.
  set(image "")
  foreach(y RANGE 7)
    set(row "")
    foreach(x RANGE 7)
      if(x GREATER_EQUAL 2 AND x LESS_EQUAL 5 AND y GREATER_EQUAL 2 AND y LESS_EQUAL 5)
        list(APPEND row 3000)
      else()
        list(APPEND row 100)
      endif()
    endforeach()
    list(JOIN row " " row)
    string(APPEND image "${row}\n")
  endforeach()
  file(WRITE ${SCRATCH}/square.txt "${image}")
  check_run("installed edgeseg" 0 "" ${prefix}/bin/edgeseg ${SCRATCH}/square.txt ${SCRATCH}/square)
  foreach(name square square_In.bmp square_Reg.bmp square_Grad.bmp)
    if(NOT EXISTS ${SCRATCH}/${name})
      message(FATAL_ERROR "the installed tool wrote no ${name}")
    endif()
  endforeach()

  check_run("man -w" 0 "${prefix}/share/man/man1/edgeseg.1.gz\n"
            ${CMAKE_COMMAND} -E env MANPATH=${prefix}/share/man man -w edgeseg)

elseif(MODE STREQUAL "package")
  run_ok("cpack" ${CMAKE_COMMAND} -E chdir ${BUILD}
         cpack -G DEB --config ${BUILD}/CPackConfig.cmake -B ${SCRATCH})
  set(expected_edgeseg ./usr/ ./usr/bin/ ./usr/bin/edgeseg ./usr/share/ ./usr/share/doc/
                       ./usr/share/doc/edgeseg/ ./usr/share/doc/edgeseg/changelog.gz
                       ./usr/share/doc/edgeseg/copyright ./usr/share/man/
                       ./usr/share/man/man1/ ./usr/share/man/man1/edgeseg.1.gz)
  set(expected_libedgeseg-dev ./usr/ ./usr/include/ ./usr/include/edgeseg/ ./usr/include/edgeseg/edgeseg.h
                              ./usr/include/edgeseg/gradientstats.h ./usr/lib/ ./usr/lib/cmake/
                              ./usr/lib/cmake/edgeseg/ ./usr/lib/cmake/edgeseg/edgesegConfig.cmake
                              ./usr/lib/cmake/edgeseg/edgesegConfigVersion.cmake
                              ./usr/lib/cmake/edgeseg/edgesegTargets-${config}.cmake
                              ./usr/lib/cmake/edgeseg/edgesegTargets.cmake ./usr/lib/libedgeseg.a ./usr/share/
                              ./usr/share/doc/ ./usr/share/doc/libedgeseg-dev/
                              ./usr/share/doc/libedgeseg-dev/changelog.gz ./usr/share/doc/libedgeseg-dev/copyright)
  set(packages edgeseg libedgeseg-dev)
  set(module $ENV{EDGESEG_PYTHON_MODULE})
  if(module)
    list(APPEND packages python3-edgeseg)
    set(site ./usr/lib/python3/dist-packages/edgeseg)
    set(expected_python3-edgeseg ./usr/ ./usr/lib/ ./usr/lib/python3/ ./usr/lib/python3/dist-packages/ ${site}/
                                 ${site}/__init__.py ${site}/${module} ./usr/share/ ./usr/share/doc/
                                 ./usr/share/doc/python3-edgeseg/ ./usr/share/doc/python3-edgeseg/changelog.gz
                                 ./usr/share/doc/python3-edgeseg/copyright)
  endif()
  file(GLOB debs ${SCRATCH}/*.deb)
  list(LENGTH debs count)
  list(LENGTH packages expected_count)
  if(NOT count EQUAL expected_count)
    message(FATAL_ERROR "cpack made ${count} packages: ${debs}")
  endif()
  list(SORT expected_libedgeseg-dev)
  foreach(package IN LISTS packages)
    file(GLOB deb ${SCRATCH}/${package}_*.deb)
    execute_process(COMMAND dpkg-deb -c ${deb} RESULT_VARIABLE status OUTPUT_VARIABLE listing)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-deb -c ${deb} failed: ${status}")
    endif()
    # Each line ends with the path; none of the expected paths holds a space.
    string(REGEX MATCHALL "[^ \n]+\n" paths "${listing}")
    string(REPLACE "\n" "" paths "${paths}")
    list(SORT paths)
    if(NOT paths STREQUAL "${expected_${package}}")
      message(FATAL_ERROR "${package} holds:\n${listing}")
    endif()
    check_run("dpkg-deb -f" 0 "${package}\n" dpkg-deb -f ${deb} Package)
  endforeach()

  file(GLOB deb ${SCRATCH}/edgeseg_*.deb)
  run_ok("dpkg-deb -x" dpkg-deb -x ${deb} ${SCRATCH}/root)
  check_run("packaged edgeseg" 255 "To few parameters" ${SCRATCH}/root/usr/bin/edgeseg)
  if(module)
    file(GLOB deb ${SCRATCH}/python3-edgeseg_*.deb)
    execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends)
    if(NOT depends MATCHES "^python3 \\(>= 3\\.11\\), python3 \\(<< 3\\.12\\), python3-numpy, libc6")
      message(FATAL_ERROR "python3-edgeseg depends on: ${depends}")
    endif()
  endif()

else()
  message(FATAL_ERROR "MODE must be install or package, not \"${MODE}\"")
endif()

file(REMOVE_RECURSE ${SCRATCH})
