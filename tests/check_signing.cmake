# Makes a throwaway code-signing certificate, packages with it, and verifies
# the signature of the executable in the package against that certificate.
# The key lives only in SCRATCH, removed at the end.
# -D CPACK=... -D CONFIG_FILE=CPackConfig.cmake -D CONFIG=... -D SCRATCH=...
# -D OPENSSL=... -D OSSLSIGNCODE=... -D PROGRAM=greeting.exe (in the package)
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/unpacked")
set(cert "${SCRATCH}/cert.pem")
set(key "${SCRATCH}/key.pem")
execute_process(COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 1
                        -subj "/CN=greeting throwaway test signer" -keyout "${key}" -out "${cert}"
  OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)

execute_process(COMMAND ${CPACK} -G ZIP -C "${CONFIG}" --config "${CONFIG_FILE}" -B "${SCRATCH}/package"
                        -D "CPACK_GREETING_SIGNING_CERT=${cert}" -D "CPACK_GREETING_SIGNING_KEY=${key}"
                        -D "CPACK_GREETING_OSSLSIGNCODE=${OSSLSIGNCODE}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
# (package.contents checks that the zip holds nothing but the exe and the
# licence, so no key can travel in it.)
file(GLOB package "${SCRATCH}/package/*.zip")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${package}" WORKING_DIRECTORY "${SCRATCH}/unpacked"
  COMMAND_ERROR_IS_FATAL ANY)
file(GLOB signed "${SCRATCH}/unpacked/*/${PROGRAM}")
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile "${cert}" -in "${signed}"
  OUTPUT_VARIABLE verdict ERROR_VARIABLE verdict RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} in ${package} is not signed by the throwaway certificate:\n${verdict}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
