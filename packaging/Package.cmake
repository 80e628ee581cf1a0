# The Debian package: everything every install rule puts under the prefix (the program, and any other
# program that installs itself), with its library dependencies computed from the binaries by
# dpkg-shlibdeps. scripts/package builds it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vx538-config)
set(CPACK_PACKAGE_VENDOR VX538)
set(CPACK_PACKAGE_CONTACT "VX538 support <support@vx538.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for the VX538-T-B field converter")
set(CPACK_PACKAGE_DESCRIPTION
    "Reads and sets the parameters of a VX538-T-B field converter over one serial\n\
port, talks HART to the instrument through it, maps and tests its 4-20 mA\n\
outputs, sends a MODBUS RTU read test and turns four hex bytes into the\n\
IEEE-754 value they encode. With it comes vx538, a command-line companion\n\
that backs up, restores, verifies and sets converters, many at once, and\n\
watches them as a service (vx538-watch@.service), publishing to MQTT.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.vx538.example)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its windowing plugin at run time, so no linked library names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The fonts the window was laid out with.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, fonts-liberation2, fonts-wqy-microhei")
# The watch service's user is made at installation (systemd-sysusers).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
