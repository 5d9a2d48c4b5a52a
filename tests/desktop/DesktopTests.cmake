# The desktop-integration tests (tests/desktop/*_unittest.cpp, made executables by tests/) need to
# know where the source and build trees are and which tools made them. Included from the root
# CMakeLists.txt after tests/.

set(PM_LUPDATE_COMMAND "")
if(TARGET Qt6::lupdate)
  set(PM_LUPDATE_COMMAND "$<TARGET_FILE:Qt6::lupdate>")
endif()

file(GLOB PM_DESKTOP_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_unittest.cpp)
foreach(src ${PM_DESKTOP_TESTS})
  get_filename_component(name ${src} NAME_WE)
  if(NOT TARGET ${name})  # left out of this tree
    continue()
  endif()
  target_compile_definitions(${name} PRIVATE
    PM_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    PM_BINARY_DIR="${CMAKE_BINARY_DIR}"
    PM_QM_DIR="${PM_QM_DIR}"
    PM_CMAKE_COMMAND="${CMAKE_COMMAND}"
    PM_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
    PM_LUPDATE_COMMAND="${PM_LUPDATE_COMMAND}"
    PM_VERSION="${PROJECT_VERSION}")
  # They run the programs (and the translations) as built.
  add_dependencies(${name} printer-maintenance printer-maintenance-cli udev-rule)
endforeach()
