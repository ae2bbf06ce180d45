# The Debian package: `cpack -G DEB` in the build folder makes
# vemra2_<version>_<arch>.deb, installing under /usr whatever prefix the build
# was configured with (the program finds its help page relative to itself).
# Its dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME vemra2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Vemra-2 developers")
set(CPACK_PACKAGE_CONTACT "Vemra-2 developers <${VEMRA_CONTACT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audio spectrum analyser")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
     "Vemra-2 records sound from a capture device (the desktop's sound server,"
     "a sound card through PortAudio, or its built-in test signal), transforms"
     "the newest block many times a second and draws the averaged power spectrum"
     "over a logarithmic frequency axis with a dB grid. It tracks the strongest"
     "frequency, refines it between bins and names the nearest musical note.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Wayland platform, for running natively on a Wayland desktop.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
if(VEMRA_WEB_ADDRESS MATCHES "^https?://")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VEMRA_WEB_ADDRESS}")
endif()

# Every Debian package carries its copyright and changelog beside its
# documentation, the changelog compressed at most without a time stamp.
set(VEMRA_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
configure_file(${PROJECT_SOURCE_DIR}/app/resources/copyright.in ${PROJECT_BINARY_DIR}/packaging/copyright
               @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/app/resources/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog
               @ONLY)
# The manual page, compressed the same way.
function(vemra_gzip source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9 -n -c ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()
vemra_gzip(${PROJECT_BINARY_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
vemra_gzip(${PROJECT_SOURCE_DIR}/app/resources/vemra2.1 ${PROJECT_BINARY_DIR}/packaging/vemra2.1.gz)
add_custom_target(vemra_package_docs ALL
                  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                          ${PROJECT_BINARY_DIR}/packaging/vemra2.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${VEMRA_PACKAGE_DOC_DIR})
install(FILES ${PROJECT_BINARY_DIR}/packaging/vemra2.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(CPack)
