# Installs the build into a scratch prefix and runs what was installed.
# -D BUILD_DIR=... -D CONFIG=... -D PREFIX=... -D PROGRAM=... -D MANUAL=...
# (PROGRAM and MANUAL: where they install, relative to the prefix)
# -D RUNNER=command that runs a case, given --program=PATH
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}" --prefix "${PREFIX}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
foreach(installed "${PROGRAM}" "${MANUAL}")
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
execute_process(COMMAND ${RUNNER} "--program=${PREFIX}/${PROGRAM}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${PREFIX}")
