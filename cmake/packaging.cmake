# Install rules and the Debian package.
#
#   cmake --install <build>            the program, the sample world, the documentation, the unit
#   cpack -G DEB  (in the build folder) vornhal_<version>_<arch>.deb
#
# Paths written into the service unit and the maintainer scripts are fixed when the tree is
# configured, so configure with the prefix the files will live under (the package script uses
# -DCMAKE_INSTALL_PREFIX=/usr); the package installs under the same prefix.
include(GNUInstallDirs)

set(VORNHAL_STATE_DIR "/var/lib/vornhal" CACHE PATH
    "Folder the service runs in: vornhal.ini and VornhalData/ with the saves")
set(VORNHAL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the systemd unit (relative to the install prefix, or absolute)")
set(VORNHAL_PACKAGE_MAINTAINER "Vornhal developers <vornhal@localhost>" CACHE STRING
    "Maintainer field of the Debian package")

set(VORNHAL_SAMPLE_DIR "${CMAKE_INSTALL_DATADIR}/vornhal/VornhalData")
set(VORNHAL_FULL_BINARY "${CMAKE_INSTALL_FULL_BINDIR}/vornhal")
set(VORNHAL_FULL_SAMPLE_DIR "${CMAKE_INSTALL_PREFIX}/${VORNHAL_SAMPLE_DIR}")
set(VORNHAL_SERVICE_USER "vornhal")

install(TARGETS vornhal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sample/VornhalData/ DESTINATION ${VORNHAL_SAMPLE_DIR}
        PATTERN "save" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/SECURITY.md
              ${PROJECT_SOURCE_DIR}/docs/PERFORMANCE.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The unit and the maintainer scripts carry the configured paths.
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/vornhal.service.in ${packaging_out}/vornhal.service @ONLY)
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${script}.in ${packaging_out}/${script} @ONLY)
endforeach()
install(FILES ${packaging_out}/vornhal.service DESTINATION ${VORNHAL_SYSTEMD_UNIT_DIR})

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vornhal")
set(CPACK_PACKAGE_VENDOR "Vornhal developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stand-alone server for an online role-playing game")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Runs the login server, the game world and an HTTP check endpoint in one process, keeps the "
    "world in memory and stores every character as a JSON file. Comes with a sample world and a "
    "systemd unit that runs the server as the system user vornhal in ${VORNHAL_STATE_DIR}.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORNHAL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "games")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The shared libraries the program links are found by dpkg-shlibdeps; adduser is what postinst
# calls to create the service user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${packaging_out}/postinst ${packaging_out}/prerm ${packaging_out}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
