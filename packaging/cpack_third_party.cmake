# Read by cpack after it has installed (stripped, and signed where it signs)
# what goes in a package, and before it packs: writes beside greeting's
# licence the notices of the code of other projects linked into its program,
# and a bill of materials, as third_party.py says. Not for the source
# package.
cmake_policy(VERSION 3.25)
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${CPACK_PACKAGING_INSTALL_PREFIX}")
set(program "${staged}/${CPACK_GREETING_PROGRAM}")
if(NOT EXISTS "${program}")
  return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/cpack_python.cmake)
string(JSON settings SET "{}" name "\"greeting\"")
foreach(key_and_value "version=${CPACK_PACKAGE_VERSION}" "licence=${CPACK_GREETING_LICENCE}"
    "supplier=${CPACK_PACKAGE_VENDOR}" "maintainer=${CPACK_PACKAGE_CONTACT}" "package=${CPACK_PACKAGE_FILE_NAME}"
    "source_package=${CPACK_SOURCE_PACKAGE_FILE_NAME}.tar.gz")
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${key_and_value}")
  string(JSON settings SET "${settings}" ${CMAKE_MATCH_1} "\"${CMAKE_MATCH_2}\"")
endforeach()
string(JSON settings SET "${settings}" epoch "$ENV{SOURCE_DATE_EPOCH}")
# Windows' text files end their lines as Notepad expects them to.
if(CPACK_GREETING_CRLF)
  string(JSON settings SET "${settings}" line_end "\"\\r\\n\"")
else()
  string(JSON settings SET "${settings}" line_end "\"\\n\"")
endif()
execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/third_party.py "${CPACK_GREETING_LINK_MAP}"
                        "${program}" "${staged}/${CPACK_GREETING_NOTICES}" "${staged}/${CPACK_GREETING_BOM}" "${settings}"
  COMMAND_ERROR_IS_FATAL ANY)
