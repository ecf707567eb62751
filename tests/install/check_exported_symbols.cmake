# SPDX-License-Identifier: Apache-2.0
# Script run by CTest: installs the library into a scratch prefix and compares
# the symbols it exports with the checked-in list, so that an accidental
# export (or a lost one) fails.
#   EKS_BUILD_DIR, EKS_LIBDIR, EKS_SCRATCH  as for run_consumer.cmake
#   EKS_LIBRARY      file name of the library below the library folder
#   EKS_LIST_TOOL    tools/exported-symbols
#   EKS_SYMBOL_LIST  the checked-in list
#   EKS_UPDATE       the command that regenerates the list
set(prefix ${EKS_SCRATCH}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${EKS_BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc}):\n${err}")
endif()

set(exported ${EKS_SCRATCH}/exported_symbols.txt)
execute_process(COMMAND ${EKS_LIST_TOOL} ${prefix}/${EKS_LIBDIR}/${EKS_LIBRARY}
                OUTPUT_FILE ${exported} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "listing the exported symbols failed (${rc}):\n${err}")
endif()
execute_process(COMMAND diff -u --label listed --label exported ${EKS_SYMBOL_LIST} ${exported}
                OUTPUT_VARIABLE diff RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  # Plain message() keeps the diff's lines as they are.
  message("${EKS_LIBRARY} exports other symbols than ${EKS_SYMBOL_LIST} lists\n"
          "(-: listed only, +: exported only):\n${diff}\n"
          "A private helper of an exported class wants EKS_LOCAL on its declaration,\n"
          "an internal function or class no EKS_API. After an intended change of the\n"
          "public API, regenerate the list, review it and commit it with the change:\n"
          "  ${EKS_UPDATE}\n")
  message(FATAL_ERROR "exported symbols differ from the checked-in list")
endif()
