# The Debian package, built by `cpack -G DEB` in a build tree (scripts/package.sh configures
# one with Debian's hardening flags and runs it). Installs under /usr whatever
# CMAKE_INSTALL_PREFIX says, as Debian packages do.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvikel)
set(CPACK_PACKAGE_VENDOR "The Torvikel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${TORVIKEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TORVIKEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # torvikel_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION misc)  # where Debian files gpsd and its clients
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies come from the shared libraries the programs use (dpkg-shlibdeps) ...
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ... plus the one thing no program links: Qt's platform plugins, without which the window
# cannot open (libqt6gui6 only recommends them).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "view and configure MediaTek GPS receivers")
# The extended description; Debian puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Torvikel is a window for a GPS receiver built on a MediaTek chipset,
attached to a serial port (USB and Bluetooth virtual ports included). It
shows date, time, position, speed, altitude, PDOP and fix mode, a sky plot
and the signal strengths of the satellites, and every NMEA sentence
received; it logs the raw stream, sends the receiver's PMTK configuration
commands and shows its replies, and updates the receiver's assisted-GPS
(EPO) data.
.
torvikel-cli does the same on a terminal and for scripts; torvikel-sim is
a simulated receiver for trying both without hardware.")
include(CPack)
