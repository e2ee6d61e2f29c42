# Makes a throwaway code-signing certificate, packages with it, and verifies
# the signature of the executable in the package against that certificate.
# The key lives only in SCRATCH, removed at the end, failed or not.
# -D CPACK=... -D CONFIG_FILE=CPackConfig.cmake -D CONFIG=... -D SCRATCH=...
# -D OPENSSL=... -D OSSLSIGNCODE=... -D PROGRAM=greeting.exe (in the package)
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/unpacked")
function(fail)
  file(REMOVE_RECURSE "${SCRATCH}")
  message(FATAL_ERROR ${ARGN})
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} -D OPENSSL=${OPENSSL} -D DIR=${SCRATCH}
                        -P ${CMAKE_CURRENT_LIST_DIR}/throwaway_certificate.cmake
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  fail("no throwaway certificate could be made")
endif()
execute_process(COMMAND ${CPACK} -G ZIP -C "${CONFIG}" --config "${CONFIG_FILE}" -B "${SCRATCH}/package"
                        -D "CPACK_GREETING_SIGNING_CERT=${SCRATCH}/cert.pem" -D "CPACK_GREETING_SIGNING_KEY=${SCRATCH}/key.pem"
                        -D "CPACK_GREETING_OSSLSIGNCODE=${OSSLSIGNCODE}"
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  fail("packing with the throwaway certificate failed:\n${output}")
endif()
# (package.contents checks that the zip holds nothing but the exe and the
# licence, so no key can travel in it.)
file(GLOB package "${SCRATCH}/package/*.zip")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${package}" WORKING_DIRECTORY "${SCRATCH}/unpacked")
file(GLOB signed "${SCRATCH}/unpacked/*/${PROGRAM}")
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile "${SCRATCH}/cert.pem" -in "${signed}"
  OUTPUT_VARIABLE verdict ERROR_VARIABLE verdict RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  fail("${PROGRAM} in ${package} is not signed by the throwaway certificate:\n${verdict}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
