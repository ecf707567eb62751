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
foreach(f include/eks/eks.h include/eks/core.h lib/pkgconfig/eks.pc lib/cmake/eks/eksConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
run_step(${CMAKE_COMMAND} -S ${EKS_CONSUMER_SOURCE} -B ${EKS_SCRATCH}/build -G ${EKS_GENERATOR}
         -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
         "-DCMAKE_CXX_FLAGS=${EKS_CONSUMER_FLAGS}")
run_step(${CMAKE_COMMAND} --build ${EKS_SCRATCH}/build)
run_step(${EKS_SCRATCH}/build/consumer)

# The pkg-config file must name the library and the header folder.
file(READ ${prefix}/lib/pkgconfig/eks.pc pc)
if(NOT pc MATCHES "-leks" OR NOT pc MATCHES "Cflags: -I")
  message(FATAL_ERROR "eks.pc lacks Libs or Cflags:\n${pc}")
endif()
