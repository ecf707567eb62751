# SPDX-License-Identifier: Apache-2.0
# Script run by CTest: installs the library into a scratch prefix, then
# configures, builds and runs the consumer project against the installed tree
# twice, through find_package(eks CONFIG) and through pkg-config.
#   EKS_BUILD_DIR        build tree whose library is installed
#   EKS_LIBDIR           its library folder below the prefix (CMAKE_INSTALL_LIBDIR)
#   EKS_SOURCE_DIR       when given, EKS_BUILD_DIR is first configured from this
#                        source with EKS_LIBDIR and the library built there
#   EKS_CONSUMER_SOURCE  the consumer project
#   EKS_SCRATCH          scratch folder (the prefix below it is wiped first)
#   EKS_WITH_TIFF        the build has eks_tiff: its consumer is built and run too
#   EKS_GENERATOR, EKS_CXX_COMPILER, EKS_CONSUMER_FLAGS
set(prefix ${EKS_SCRATCH}/prefix)
file(REMOVE_RECURSE ${prefix} ${EKS_SCRATCH}/config ${EKS_SCRATCH}/pkg-config)

# A step that hangs (a consumer stuck in a broken library) is ended here:
# CTest's own timeout ends this script but not the programs it started.
function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 300)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "step failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

if(EKS_SOURCE_DIR)
  # Only the libraries; the build folder is kept between runs, so a rerun only
  # rebuilds what changed.
  run_step(${CMAKE_COMMAND} -S ${EKS_SOURCE_DIR} -B ${EKS_BUILD_DIR} -G ${EKS_GENERATOR}
           -DCMAKE_CXX_COMPILER=${EKS_CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release
           -DCMAKE_INSTALL_LIBDIR=${EKS_LIBDIR} -DEKS_BUILD_TESTS=OFF
           -DEKS_BUILD_BENCH=OFF -DEKS_BUILD_EXAMPLES=OFF -DEKS_BUILD_PYTHON=OFF)
  run_step(${CMAKE_COMMAND} --build ${EKS_BUILD_DIR} -j2)
endif()

run_step(${CMAKE_COMMAND} --install ${EKS_BUILD_DIR} --prefix ${prefix})
set(installed include/eks/eks.h include/eks/core.h include/eks/version.h ${EKS_LIBDIR}/libeks.so
    ${EKS_LIBDIR}/pkgconfig/eks.pc ${EKS_LIBDIR}/cmake/eks/eksConfig.cmake)
if(EKS_WITH_TIFF)
  list(APPEND installed include/eks/tiff.h ${EKS_LIBDIR}/libeks_tiff.so
       ${EKS_LIBDIR}/pkgconfig/eks-tiff.pc ${EKS_LIBDIR}/cmake/eks/eksTiffTargets.cmake)
endif()
foreach(f IN LISTS installed)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# pkg-config must see this prefix only, and its folders must be the installed ones.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${EKS_LIBDIR}/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
find_program(pkg_config pkg-config REQUIRED)
set(packages eks)
if(EKS_WITH_TIFF)
  list(APPEND packages eks-tiff)
endif()
foreach(package IN LISTS packages)
  foreach(pair IN ITEMS "libdir=${EKS_LIBDIR}" "includedir=include")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 variable)
    list(GET pair 1 expected)
    execute_process(COMMAND ${pkg_config} --variable=${variable} ${package}
                    OUTPUT_VARIABLE got OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REAL_PATH "${got}" got_real)
    file(REAL_PATH "${prefix}/${expected}" expected_real)
    if(NOT got_real STREQUAL expected_real)
      message(FATAL_ERROR "${package}.pc: ${variable} is '${got}', not ${prefix}/${expected}")
    endif()
  endforeach()
endforeach()

# The pkg-config file must name the library and the header folder, and carry
# the project's version, as the CMake package does (the consumer asks
# find_package for exactly this version and compares it with ekVersion()).
file(READ ${prefix}/${EKS_LIBDIR}/pkgconfig/eks.pc pc)
if(NOT pc MATCHES "-leks" OR NOT pc MATCHES "Cflags: -I")
  message(FATAL_ERROR "eks.pc lacks Libs or Cflags:\n${pc}")
endif()
string(REGEX MATCH "\nVersion: ([^\n]*)" _ "${pc}")
if(NOT CMAKE_MATCH_1 STREQUAL EKS_VERSION)
  message(FATAL_ERROR "eks.pc has version '${CMAKE_MATCH_1}', expected ${EKS_VERSION}")
endif()

foreach(mode IN ITEMS config pkg-config)
  set(build ${EKS_SCRATCH}/${mode})
  if(mode STREQUAL "config")
    set(find -DCMAKE_PREFIX_PATH=${prefix})
  else()
    set(find -DEKS_CONSUMER_PKG_CONFIG=ON)
  endif()
  run_step(${CMAKE_COMMAND} -S ${EKS_CONSUMER_SOURCE} -B ${build} -G ${EKS_GENERATOR}
           -DCMAKE_CXX_COMPILER=${EKS_CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release
           -DEKS_EXPECTED_VERSION=${EKS_VERSION} "-DCMAKE_CXX_FLAGS=${EKS_CONSUMER_FLAGS}" -DEKS_WITH_TIFF=${EKS_WITH_TIFF} ${find})
  run_step(${CMAKE_COMMAND} --build ${build})
  run_step(${build}/consumer)
  if(EKS_WITH_TIFF)
    run_step(${build}/consumer_tiff)
  endif()
endforeach()
