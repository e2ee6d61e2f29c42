# Read by cpack once it has staged, stripped, what a binary package holds:
# signs greeting.exe where a certificate is given (claiming
# SOURCE_DATE_EPOCH as the signing time, so the same key gives the same
# package until time-stamped), then writes the notices and bill of the
# program as packed (third_party.py).
cmake_policy(VERSION 3.25)
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${CPACK_PACKAGING_INSTALL_PREFIX}")
set(program "${staged}/${CPACK_GREETING_PROGRAM}")
if(NOT EXISTS "${program}")
  return()
endif()
if(CPACK_GREETING_SIGNING_CERT)
  set(timestamp "")
  if(CPACK_GREETING_TIMESTAMP_URL)
    set(timestamp -ts "${CPACK_GREETING_TIMESTAMP_URL}")
  endif()
  execute_process(
    COMMAND "${CPACK_GREETING_OSSLSIGNCODE}" sign
            -certs "${CPACK_GREETING_SIGNING_CERT}" -key "${CPACK_GREETING_SIGNING_KEY}"
            -h sha256 -n greeting -time "$ENV{SOURCE_DATE_EPOCH}" ${timestamp}
            -in "${program}" -out "${program}.signed"
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE "${program}.signed")
    message(FATAL_ERROR "signing ${CPACK_GREETING_PROGRAM} failed:\n${output}")
  endif()
  # Written over in place, so the program keeps its mode.
  execute_process(COMMAND cat "${program}.signed" OUTPUT_FILE "${program}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${program}.signed")
  message(STATUS "${CPACK_GREETING_PROGRAM} is signed by ${CPACK_GREETING_SIGNING_CERT}")
elseif(CPACK_GREETING_OSSLSIGNCODE)
  message(STATUS "${CPACK_GREETING_PROGRAM} is not signed: "
    "configure with GREETING_SIGNING_CERT and GREETING_SIGNING_KEY to sign it")
endif()
if(CPACK_GREETING_NOTICES)
  execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/third_party.py "${CPACK_GREETING_FACTS}"
                          "${CPACK_GREETING_LINK_MAP}" "${staged}" "${CPACK_PACKAGE_FILE_NAME}"
    COMMAND_ERROR_IS_FATAL ANY)
endif()
