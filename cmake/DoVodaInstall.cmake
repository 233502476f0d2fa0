# Installation: headers flat under include/dovoda, libraries under lib,
# the program under bin, a CMake package (find_package(DoVoda)) and a
# pkg-config file.
include(CMakePackageConfigHelpers)

set(DOVODA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/DoVoda)
set(DOVODA_INSTALL_TARGETS imaging imaging_core imaging_analysis imaging_io edgelib DoVoda dovoda-lines dovoda_draw_lines)

install(TARGETS ${DOVODA_INSTALL_TARGETS}
  EXPORT DoVodaTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dovoda)

install(EXPORT DoVodaTargets
  NAMESPACE DoVoda::
  DESTINATION ${DOVODA_CMAKE_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/DoVodaConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/DoVodaConfig.cmake
  INSTALL_DESTINATION ${DOVODA_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/DoVodaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/DoVodaConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/DoVodaConfigVersion.cmake
  DESTINATION ${DOVODA_CMAKE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/dovoda.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/dovoda.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dovoda.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
