# Installs the tool like any command of the system: `cmake --install BUILD
# --prefix PREFIX` puts PREFIX/bin/edgeseg and PREFIX/share/man/man1/edgeseg.1
# in place, and `cpack -G DEB` in the build directory packs the same two files
# under /usr. Nothing else is installed: the library and the tests stay in the
# build tree.
include(GNUInstallDirs)
install(TARGETS edgeseg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/edgeseg.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME edgeseg)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "segment a grey-level text image into the regions enclosed by its strong edges")
set(CPACK_PACKAGE_CONTACT "edgeseg maintainers <maintainers@users.noreply.c-seed-91d3becf.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The package declares the C and C++ runtime libraries that the binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
