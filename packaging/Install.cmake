# Installation layout (cmake --install, make install PREFIX=..., the Debian package):
#   bin/printer-maintenance, bin/printer-maintenance-cli
#   share/printer-maintenance/{firmware,pictures,translations}   found from bin/ at run time
#   lib/udev/rules.d/70-printer-maintenance.rules                 USB access for the seat's user
#                                                                 (written from the model table)
#   share/applications, share/metainfo, share/icons/hicolor       desktop integration
#   share/doc/printer-maintenance/examples                        models.conf, metrics timer,
#                                                                 playbook, JSON schema
# Included from the root CMakeLists.txt.

set(PM_APP_ID io.github.printermaintenance.PrinterMaintenance)
set(PM_DATA_DIR ${CMAKE_INSTALL_DATADIR}/printer-maintenance)
# Two components, two Debian packages: the program (main) and its architecture-independent data
# (data: firmware and pictures, most of the size), which every architecture's program shares.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME main)

install(TARGETS printer-maintenance printer-maintenance-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The resource directory as the application reads it; the pictures' SVG sources stay behind.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/firmware DESTINATION ${PM_DATA_DIR} COMPONENT data)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/pictures DESTINATION ${PM_DATA_DIR} COMPONENT data
        FILES_MATCHING PATTERN "*.png")
if(PM_QM_FILES)
  install(FILES ${PM_QM_FILES} DESTINATION ${PM_DATA_DIR}/translations)
endif()

# udev reads lib/udev/rules.d under /usr and /usr/local; a rule installed elsewhere is copied to
# /etc/udev/rules.d by hand (see README).
install(FILES ${PM_UDEV_RULE} DESTINATION lib/udev/rules.d)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${PM_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${PM_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# What Debian asks of every package: the copyright, the changelog and a manual page, the latter two
# compressed without a time stamp (gzip -n) so that the package builds the same every time.
foreach(doc debian/changelog printer-maintenance.1 printer-maintenance-cli.1)
  get_filename_component(name ${doc} NAME)
  execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/${doc}
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${CMAKE_CURRENT_LIST_DIR}/printer-maintenance.1
             ${CMAKE_CURRENT_LIST_DIR}/printer-maintenance-cli.1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/printer-maintenance)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/printer-maintenance-data COMPONENT data)
# Examples for the deployer: the model configuration, metrics refreshed by systemd, a playbook.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/models.conf
              ${CMAKE_SOURCE_DIR}/examples/systemd/printer-maintenance-metrics.service
              ${CMAKE_SOURCE_DIR}/examples/systemd/printer-maintenance-metrics.timer
              ${CMAKE_SOURCE_DIR}/examples/ansible/update-printers.yml
              ${CMAKE_SOURCE_DIR}/docs/cli-output.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/printer-maintenance/examples)
install(FILES ${CMAKE_BINARY_DIR}/printer-maintenance.1.gz ${CMAKE_BINARY_DIR}/printer-maintenance-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
