# SPDX-License-Identifier: Apache-2.0
# Installation: library with SONAME, public headers, CMake package config and eks.pc.
include(CMakePackageConfigHelpers)

install(TARGETS eks EXPORT eksTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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

# eks.pc and eks-tiff.pc find their prefix from their own folder, so that the
# installed tree may be moved: one step up per level of the pkgconfig folder
# (three below lib/x86_64-linux-gnu). Absolute folders are written as they stand.
set(eks_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${eks_pc_dir}")
  set(EKS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH eks_pc_up "/${eks_pc_dir}" "/")
  string(REGEX REPLACE "/$" "" eks_pc_up "${eks_pc_up}")
  set(EKS_PC_PREFIX "\${pcfiledir}/${eks_pc_up}")
endif()
foreach(dir IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(EKS_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(EKS_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(cmake/eks.pc.in ${CMAKE_CURRENT_BINARY_DIR}/eks.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/eks.pc DESTINATION ${eks_pc_dir})
