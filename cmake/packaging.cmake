# What `cmake --install` puts where, the CMake package and pkg-config file for consumers, and the
# Debian package (cpack -G DEB).
include(CMakePackageConfigHelpers)

set(RIDGELINE_ADAPTER_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/ridgeline)

install(TARGETS ridgeline_library EXPORT RidgelineTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ridgeline DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development)
install(TARGETS ridgeline_adapter LIBRARY DESTINATION ${RIDGELINE_ADAPTER_INSTALL_DIR}
  COMPONENT runtime)
if(TARGET ridgeline)  # the command, built with the tools
  install(TARGETS ridgeline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES ${CMAKE_SOURCE_DIR}/doc/ridgeline.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT runtime)
  install(FILES ${CMAKE_SOURCE_DIR}/doc/ridgeline.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ridgeline
    COMPONENT runtime)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

install(EXPORT RidgelineTargets NAMESPACE Ridgeline::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ridgeline COMPONENT development)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/RidgelineConfig.cmake.in
  ${CMAKE_BINARY_DIR}/RidgelineConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ridgeline)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/RidgelineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/RidgelineConfig.cmake
  ${CMAKE_BINARY_DIR}/RidgelineConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ridgeline COMPONENT development)
# The prefix is found from the .pc file's own place, so a staged or unpacked tree works as well.
file(RELATIVE_PATH RIDGELINE_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" RIDGELINE_PC_TO_PREFIX "${RIDGELINE_PC_TO_PREFIX}")
# The engine's vector forms call into libhwy; the .deb's dependency on it comes from shlibdeps.
set(RIDGELINE_PC_PRIVATE_HWY "")
if(RIDGELINE_HIGHWAY)
  set(RIDGELINE_PC_PRIVATE_HWY " -lhwy")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/ridgeline.pc.in ${CMAKE_BINARY_DIR}/ridgeline.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/ridgeline.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

set(CPACK_PACKAGE_NAME ridgeline)
set(CPACK_PACKAGE_VENDOR "Ridgeline")
set(CPACK_PACKAGE_CONTACT "Ridgeline developers <ridgeline@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fingerprint feature extraction and matching")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
