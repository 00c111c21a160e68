# cpack -G DEB: a Debian package whose dependencies dpkg-shlibdeps finds from the libraries
# the programs link, so nothing is kept by hand.
set(CPACK_PACKAGE_NAME velmaris)
set(CPACK_PACKAGE_VENDOR "Velmaris")
set(CPACK_PACKAGE_CONTACT "Velmaris developers <velmaris@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines shorter than 80 characters: dpkg shows the description as written.
set(CPACK_PACKAGE_DESCRIPTION
    "Shows every radio temperature sensor and relay of a QOR7070 controller live,
reads and writes its sensor, relay and communication settings, keeps profiles
and records trend files. With velmaris-cli for scripts and qor7070-sim, a
controller simulator.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The first Debian revision of this version; changelog.Debian names the same.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not libraries, so shlibdeps cannot find them: Qt's own dialogs and buttons in Russian,
# and the SQLite driver plugin the history store opens its file with.
# libmosquitto1 is found by shlibdeps as well; named here so that the MQTT client stays a
# stated dependency of the package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, libqt6sql6-sqlite, libmosquitto1")
include(CPack)
