# Installation: library with SONAME, public headers, CMake package config and eks.pc.
include(CMakePackageConfigHelpers)

install(TARGETS eks EXPORT eksTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/eks DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(FILES ${EKS_GENERATED_INCLUDE}/eks/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/eks)
install(EXPORT eksTargets NAMESPACE eks::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/eks)

configure_package_config_file(cmake/eksConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/eksConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/eks)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/eksConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/eksConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/eksConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/eks)

configure_file(cmake/eks.pc.in ${CMAKE_CURRENT_BINARY_DIR}/eks.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/eks.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
