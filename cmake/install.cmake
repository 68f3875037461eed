# Installs edgeseg as the system's own software is installed, in two parts.
# The command (component edgeseg): `cmake --install BUILD --prefix PREFIX`
# puts PREFIX/bin/edgeseg, its gzipped manual page
# PREFIX/share/man/man1/edgeseg.1.gz and, under PREFIX/share/doc/edgeseg, the
# copyright and changelog.gz in place. The library for C++ programs
# (component dev): the public headers under PREFIX/include/edgeseg, the
# static library PREFIX/lib/libedgeseg.a and a CMake package under
# PREFIX/lib/cmake/edgeseg, so that find_package(edgeseg 1.0) gives the
# target edgeseg::edgeseg, with the copyright and changelog under
# share/doc/libedgeseg-dev. `cpack -G DEB` in the build directory packs each
# part under /usr as a Debian package of its own, edgeseg and libedgeseg-dev,
# laid out as Debian's checker, lintian, expects. The tests stay in the build
# tree.
include(GNUInstallDirs)
install(TARGETS edgeseg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT edgeseg)
# Debian keeps manual pages and changelogs gzipped. -9n leaves the file's name
# and time out of the header, so the same text always packs to the same bytes
# and the package is reproducible.
find_program(EDGESEG_GZIP gzip REQUIRED)
set(gzipped "")
foreach(doc edgeseg.1 changelog)
  set(copy ${PROJECT_BINARY_DIR}/gzipped/${doc})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${doc} ${copy}
    COMMAND ${EDGESEG_GZIP} -9nf ${copy}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${doc}
    VERBATIM)
  list(APPEND gzipped ${copy}.gz)
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${gzipped})
# Built with the tool, so that whatever built the tool (the demo too) leaves
# everything that `cmake --install` copies.
add_dependencies(edgeseg gzipped_docs)
install(FILES ${PROJECT_BINARY_DIR}/gzipped/edgeseg.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT edgeseg)
# Each package carries the copyright and the changelog in a folder of its
# own name.
foreach(package edgeseg libedgeseg-dev)
  string(REPLACE "libedgeseg-dev" "dev" component ${package})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

# The library: only its public headers and the package that names them; the
# units' own headers and the project's compile options stay in the build
# tree (edgeseg_library_options).
install(TARGETS edgeseg_core EXPORT edgesegTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/edgeseg DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
set(EDGESEG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/edgeseg)
install(EXPORT edgesegTargets NAMESPACE edgeseg:: DESTINATION ${EDGESEG_CMAKE_DIR} COMPONENT dev)
include(CMakePackageConfigHelpers)
file(WRITE ${PROJECT_BINARY_DIR}/edgesegConfig.cmake "include(\${CMAKE_CURRENT_LIST_DIR}/edgesegTargets.cmake)\n")
write_basic_package_version_file(${PROJECT_BINARY_DIR}/edgesegConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/edgesegConfig.cmake ${PROJECT_BINARY_DIR}/edgesegConfigVersion.cmake
        DESTINATION ${EDGESEG_CMAKE_DIR} COMPONENT dev)

# A stripped install (cpack strips) also drops the compilers' version notes,
# which nothing reads, from the command and from the library's objects, as
# Debian's own packages do. After every file is in place.
foreach(part "edgeseg|${CMAKE_INSTALL_BINDIR}/edgeseg" "dev|${CMAKE_INSTALL_LIBDIR}/libedgeseg.a")
  string(REPLACE "|" ";" part "${part}")
  list(GET part 0 component)
  list(GET part 1 file)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
endforeach()

# The package's version is the project's; the changelog's newest entry must
# name it, or the package would describe another release.
file(STRINGS ${PROJECT_SOURCE_DIR}/docs/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^edgeseg \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "docs/changelog starts with \"${newest}\", not an entry for edgeseg ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL edgeseg dev)
set(CPACK_PACKAGE_NAME edgeseg)
set(CPACK_PACKAGE_CONTACT "edgeseg maintainers <maintainers@users.noreply.c-seed-91d3becf.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_EDGESEG_PACKAGE_NAME edgeseg)
set(CPACK_DEBIAN_EDGESEG_PACKAGE_SECTION graphics)
set(CPACK_COMPONENT_EDGESEG_DESCRIPTION [=[
segment a grey-level text image into the regions enclosed by its strong edges
edgeseg reads a grey-level image kept as plain text, one row of numbers per
line, and segments it into the regions enclosed by its strong edges. It
computes the Roberts-cross gradient, picks a threshold from the gradient's
histogram, fills what the edges enclose and numbers the 8-connected regions
of more than 10 pixels.
.
One command writes the labels as a text image of the same size and three
32-bit BMP pictures: the input and the gradient through a colour map, and
the regions in one colour per label. The tool has no options.]=])
# The command declares the C and C++ runtime libraries that it links.
set(CPACK_DEBIAN_EDGESEG_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libedgeseg-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION [=[
edge segmentation of grey-level images for C++ programs
edgeseg segments a grey-level image into the regions enclosed by its strong
edges: the Roberts-cross gradient, a threshold from the gradient's
histogram, the enclosed areas filled and the 8-connected regions of more
than 10 pixels numbered.
.
This package holds the library for C++ programs that keep their images in
memory: one header, edgeseg/edgeseg.h, a static library and a CMake package
(find_package(edgeseg), target edgeseg::edgeseg). It gives the labels and
the three pictures of the edgeseg command, pixel for pixel.]=])

# The Python module (component python), where it is built: the package
# python3-edgeseg under /usr/lib/python3/dist-packages, for Debian's python3
# 3.11 and its numpy (python/CMakeLists.txt installs the module itself).
if(EDGESEG_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-edgeseg COMPONENT python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-edgeseg)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  # The extension is built for one interpreter's ABI, 3.11's.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION [=[
edge segmentation of grey-level images for Python 3
edgeseg segments a grey-level image into the regions enclosed by its strong
edges: the Roberts-cross gradient, a threshold from the gradient's
histogram, the enclosed areas filled and the 8-connected regions of more
than 10 pixels numbered.
.
This package holds the Python module edgeseg: segment() takes a numpy array
of integers and gives the labels, pictures() the three pictures as RGB
arrays, and run() does what the edgeseg command does. The calls release the
global interpreter lock while they work, and their results and errors
pickle, so that they travel between processes.]=])
endif()

include(CPack)
