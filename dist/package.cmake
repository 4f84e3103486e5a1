# The Debian package of Varnok (cpack -G DEB in the build folder; scripts/package does it all), named
# varnok_<version>_<arch>.deb after project(VERSION).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Varnok developers")
set(CPACK_PACKAGE_CONTACT "The Varnok developers <varnok@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://www.example.org/varnok)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "validator for Motorola S-record firmware files")
# Debian shows the description as it stands, so its lines are wrapped here.
set(CPACK_PACKAGE_DESCRIPTION [[
Varnok validates and summarises Motorola S-record files, the hex text format
in which firmware images go to device programmers and loaders. It checks
every record (type, byte count, checksum), stops at the first bad line with
a message naming it, shows the module name, version and description of the
S0 header, counts records and data bytes, and finds the lowest, highest and
execution address. On request it draws the loaded range as a colour-coded
memory map.

The package holds the desktop program varnok and the command varnok-scan,
which runs the same analysis without a window for build pipelines and
scripted checks.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps. Qt loads its platform plugins at run time, and the
# windows are laid out for the Liberation fonts, so neither shows among the linked libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")

include(CPack)
