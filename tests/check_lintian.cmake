# Builds the Debian package and has lintian check it with every tag on,
# pedantic ones included: any tag fails.
# -D CPACK=... -D CONFIG_FILE=CPackConfig.cmake -D CONFIG=... -D SCRATCH=... -D LINTIAN=...
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CPACK} -G DEB -C "${CONFIG}" --config "${CONFIG_FILE}" -B "${SCRATCH}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB deb "${SCRATCH}/*.deb")
execute_process(COMMAND ${LINTIAN} --info --display-experimental --pedantic
                        --fail-on error,warning,info,pedantic,experimental ${deb}
  OUTPUT_VARIABLE tags RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT tags STREQUAL "")
  message(FATAL_ERROR "lintian on ${deb} (status ${status}):\n${tags}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
