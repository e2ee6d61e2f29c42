# Read by cpack's External generator once it has installed, stripped, what
# goes in a package (with the notices and bill of materials beside the
# licence): makes greeting's container image of the program, its licence,
# the notices and the bill, under /usr, as oci_image.py says. Every time in
# it is SOURCE_DATE_EPOCH, which cpack_package_config.cmake sets.
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/cpack_python.cmake)
set(image "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.tar")
string(JSON settings SET "{}" labels "{}")
foreach(key_and_value "prefix=/usr" "entrypoint=${CPACK_GREETING_PROGRAM}" "architecture=${CPACK_GREETING_OCI_ARCH}"
    "epoch=$ENV{SOURCE_DATE_EPOCH}" "ref=${CPACK_PACKAGE_NAME}:${CPACK_PACKAGE_VERSION}")
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${key_and_value}")
  string(JSON settings SET "${settings}" ${CMAKE_MATCH_1} "\"${CMAKE_MATCH_2}\"")
endforeach()
# The commit packed, where the sources are a git checkout; git is asked as
# whoever packs, whoever owns the tree.
execute_process(COMMAND git -c safe.directory=* -C "${CPACK_GREETING_SOURCE_DIR}" rev-parse HEAD
  OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
foreach(key_and_value "title=${CPACK_PACKAGE_NAME}" "description=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
    "version=${CPACK_PACKAGE_VERSION}" "licenses=${CPACK_GREETING_LICENCE}" "vendor=${CPACK_PACKAGE_VENDOR}"
    "source=${CPACK_SOURCE_PACKAGE_FILE_NAME}.tar.gz" "revision=${revision}")
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${key_and_value}")
  if(CMAKE_MATCH_2)
    string(JSON settings SET "${settings}" labels "org.opencontainers.image.${CMAKE_MATCH_1}" "\"${CMAKE_MATCH_2}\"")
  endif()
endforeach()
execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/oci_image.py
                        "${CPACK_TEMPORARY_DIRECTORY}" "${image}" "${settings}" ${CPACK_GREETING_IMAGE_FILES}
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES "${image}")
