# The Debian packages (`make deb`, or `cpack -G DEB` in a configured build directory): the program,
# printer-maintenance (this architecture), and its firmware and pictures, printer-maintenance-data
# (architecture all), which the program depends on at its own version. Included from the root
# CMakeLists.txt after packaging/Install.cmake.

set(CPACK_PACKAGE_NAME printer-maintenance)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Printer Maintenance")
set(CPACK_PACKAGE_CONTACT "Printer Maintenance maintainers <maintainers@users.noreply.c-seed-9fe25553.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "maintenance of USB dye-sublimation photo printers")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Finds the supported USB photo printers, shows their status, firmware\n"
    "version, counters and colour tables, and updates their firmware and colour\n"
    "tables from files shipped with it. A udev rule lets the user logged in at\n"
    "the seat use the printers without root.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The package is made from what the build directory already built; cpack does not build the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL main data)
set(CPACK_DEBIAN_MAIN_PACKAGE_NAME printer-maintenance)
set(CPACK_DEBIAN_DATA_PACKAGE_NAME printer-maintenance-data)
set(CPACK_DEBIAN_DATA_PACKAGE_ARCHITECTURE all)
set(CPACK_COMPONENT_DATA_DESCRIPTION
    "firmware and pictures for Printer Maintenance\n"
    "The firmware archives and colour tables that printer-maintenance installs on\n"
    "the supported USB photo printers, and the pictures of the printer models.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from dpkg-shlibdeps (dpkg-dev) when it is there, else from this list. The X11
# platform plugin is only recommended by libqt6gui6, yet without it no window opens. Qt's own
# translations are only recommended: without them Qt's dialog buttons stay English in a
# translated window, which is no reason to refuse the install.
find_program(PM_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PM_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_MAIN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
  set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libusb-1.0-0 (>= 2:1.0.22), libssl3, libsqlite3-0 (>= 3.31), qt6-qpa-plugins")
endif()
string(APPEND CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS ", printer-maintenance-data (= ${PROJECT_VERSION})")
# lpstat and lpadmin tidy the print queues after a USB serial-number change.
set(CPACK_DEBIAN_MAIN_PACKAGE_RECOMMENDS "cups-client, fonts-dejavu-core, qt6-translations-l10n")
set(CPACK_DEBIAN_MAIN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
                                            ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
