# Installation layout (cmake --install, make install PREFIX=..., the Debian package):
#   bin/printer-maintenance
#   share/printer-maintenance/{firmware,pictures,translations}   found from bin/ at run time
#   lib/udev/rules.d/70-printer-maintenance.rules                 USB access for the seat's user
#   share/applications, share/metainfo, share/icons/hicolor       desktop integration
# Included from the root CMakeLists.txt.

set(PM_APP_ID io.github.printermaintenance.PrinterMaintenance)
set(PM_DATA_DIR ${CMAKE_INSTALL_DATADIR}/printer-maintenance)

install(TARGETS printer-maintenance RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The resource directory as the application reads it; the pictures' SVG sources stay behind.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/firmware DESTINATION ${PM_DATA_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/pictures DESTINATION ${PM_DATA_DIR}
        FILES_MATCHING PATTERN "*.png")
if(PM_QM_FILES)
  install(FILES ${PM_QM_FILES} DESTINATION ${PM_DATA_DIR}/translations)
endif()

# udev reads lib/udev/rules.d under /usr and /usr/local; a rule installed elsewhere is copied to
# /etc/udev/rules.d by hand (see README).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-printer-maintenance.rules DESTINATION lib/udev/rules.d)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${PM_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${PM_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
