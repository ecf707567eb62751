# Script run by CTest: install, configure the consumer, build it, run it.
file(REMOVE_RECURSE ${EKS_SCRATCH})
set(prefix ${EKS_SCRATCH}/prefix)

function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "step failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run_step(${CMAKE_COMMAND} --install ${EKS_BUILD_DIR} --prefix ${prefix})
foreach(f include/eks/eks.h include/eks/core.h include/eks/version.h lib/pkgconfig/eks.pc lib/cmake/eks/eksConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
run_step(${CMAKE_COMMAND} -S ${EKS_CONSUMER_SOURCE} -B ${EKS_SCRATCH}/build -G ${EKS_GENERATOR}
         -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
         -DEKS_EXPECTED_VERSION=${EKS_VERSION}
         "-DCMAKE_CXX_FLAGS=${EKS_CONSUMER_FLAGS}" -DEKS_WITH_TIFF=${EKS_WITH_TIFF})
run_step(${CMAKE_COMMAND} --build ${EKS_SCRATCH}/build)
run_step(${EKS_SCRATCH}/build/consumer)
if(EKS_WITH_TIFF)
  run_step(${EKS_SCRATCH}/build/consumer_tiff)
  foreach(f include/eks/tiff.h lib/pkgconfig/eks-tiff.pc lib/cmake/eks/eksTiffTargets.cmake)
    if(NOT EXISTS ${prefix}/${f})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()
  file(READ ${prefix}/lib/pkgconfig/eks-tiff.pc pc)
  if(NOT pc MATCHES "-leks_tiff" OR NOT pc MATCHES "Requires: eks")
    message(FATAL_ERROR "eks-tiff.pc lacks Libs or Requires:\n${pc}")
  endif()
endif()

# The pkg-config file must name the library and the header folder.
file(READ ${prefix}/lib/pkgconfig/eks.pc pc)
if(NOT pc MATCHES "-leks" OR NOT pc MATCHES "Cflags: -I")
  message(FATAL_ERROR "eks.pc lacks Libs or Cflags:\n${pc}")
endif()
# ... and carry the project's version, as the CMake package does (the consumer
# asks find_package for exactly this version and compares it with ekVersion()).
string(REGEX MATCH "\nVersion: ([^\n]*)" _ "${pc}")
if(NOT CMAKE_MATCH_1 STREQUAL EKS_VERSION)
  message(FATAL_ERROR "eks.pc has version '${CMAKE_MATCH_1}', expected ${EKS_VERSION}")
endif()
