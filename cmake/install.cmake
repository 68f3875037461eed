# Installs the tool like any command of the system: `cmake --install BUILD
# --prefix PREFIX` puts PREFIX/bin/edgeseg, its gzipped manual page
# PREFIX/share/man/man1/edgeseg.1.gz and, under PREFIX/share/doc/edgeseg, the
# copyright and changelog.gz in place; `cpack -G DEB` in the build directory
# packs the same files under /usr, laid out as Debian's checker, lintian,
# expects. Nothing else is installed: the library and the tests stay in the
# build tree.
include(GNUInstallDirs)
install(TARGETS edgeseg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (cpack strips) also drops the compilers' version notes,
# which nothing reads, as Debian's own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/edgeseg\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")

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
install(FILES ${PROJECT_BINARY_DIR}/gzipped/edgeseg.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package's version is the project's; the changelog's newest entry must
# name it, or the package would describe another release.
file(STRINGS ${PROJECT_SOURCE_DIR}/docs/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^edgeseg \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "docs/changelog starts with \"${newest}\", not an entry for edgeseg ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME edgeseg)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "segment a grey-level text image into the regions enclosed by its strong edges")
set(CPACK_PACKAGE_DESCRIPTION [=[
edgeseg reads a grey-level image kept as plain text, one row of numbers per
line, and segments it into the regions enclosed by its strong edges. It
computes the Roberts-cross gradient, picks a threshold from the gradient's
histogram, fills what the edges enclose and numbers the 8-connected regions
of more than 10 pixels.

One command writes the labels as a text image of the same size and three
32-bit BMP pictures: the input and the gradient through a colour map, and
the regions in one colour per label. The tool has no options.]=])
set(CPACK_PACKAGE_CONTACT "edgeseg maintainers <maintainers@users.noreply.c-seed-91d3becf.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The package declares the C and C++ runtime libraries that the binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
