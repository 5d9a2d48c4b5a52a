# The application's translations: resources/translations/printer-maintenance_<lang>.ts, written by
# hand and kept in step with the sources by `cmake --build <dir> --target update_translations`
# (lupdate). lrelease turns them into <build>/translations/*.qm, where the uninstalled application
# finds them beside its executable; installed they live in share/printer-maintenance/translations.
# Included from the root CMakeLists.txt.

set(PM_TRANSLATION_SOURCES)
set(PM_QM_FILES)
set(PM_QM_DIR "${CMAKE_BINARY_DIR}/translations")
file(GLOB PM_TS_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/printer-maintenance_*.ts)

if(Qt6LinguistTools_FOUND)
  set_source_files_properties(${PM_TS_FILES} PROPERTIES OUTPUT_LOCATION "${PM_QM_DIR}")
  qt_add_lrelease(printer-maintenance TS_FILES ${PM_TS_FILES} QM_FILES_OUTPUT_VARIABLE PM_QM_FILES)
  add_dependencies(printer-maintenance-cli printer-maintenance_lrelease)  # the same catalogue

  # Every layer's texts; the test folders and the simulator show nothing to the user.
  foreach(dir app app/main cli usb olm/model olm/protocol olm/printer olm/update support)
    file(GLOB s CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    list(APPEND PM_TRANSLATION_SOURCES ${s})
  endforeach()
  # Source locations would change with every edit of a file; the texts alone are the contract.
  qt_add_lupdate(printer-maintenance TS_FILES ${PM_TS_FILES} SOURCES ${PM_TRANSLATION_SOURCES}
                 OPTIONS -no-obsolete -locations none)
else()
  message(STATUS "Qt6 LinguistTools not found (qt6-tools-dev, qt6-l10n-tools): no translations")
endif()
