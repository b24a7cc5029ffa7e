# Release packages, made by scripts/package.sh with CPack: on Linux a Debian package
# (/usr/bin/pelc and its manual page), on Windows a zip holding pelc.exe, the README and
# the licence texts of the libraries linked into it.
set(CPACK_PACKAGE_NAME pelc)
set(CPACK_PACKAGE_VENDOR "pelc")
set(CPACK_PACKAGE_CONTACT "pelc developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts multi-page TIFF files into one JPEG file per page")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS pelc RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(DIRECTORY ${PELC_DEPS_PREFIX}/licenses/ DESTINATION licenses)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pelc-${PROJECT_VERSION}-win64)
else()
  install(TARGETS pelc RUNTIME DESTINATION bin)
  # Debian keeps manual pages compressed; -n leaves out the time, so the package's bytes
  # do not change from one build to the next.
  set(pelc_manual ${PROJECT_BINARY_DIR}/pelc.1.gz)
  add_custom_command(OUTPUT ${pelc_manual}
                     COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/pelc.1 > ${pelc_manual}
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/pelc.1)
  add_custom_target(pelc_manual ALL DEPENDS ${pelc_manual})
  install(FILES ${pelc_manual} DESTINATION share/man/man1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  # The libraries' packages are found from what the binary links, as Debian's own
  # packages do.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
