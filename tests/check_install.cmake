# Installs the build into a scratch prefix and runs what was installed.
# -D BUILD_DIR=... -D CONFIG=... -D PREFIX=... -D CHECK_OUTPUT=check_output.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}" --prefix "${PREFIX}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
foreach(installed bin/greeting share/man/man1/greeting.1)
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -D PROGRAM=${PREFIX}/bin/greeting -D LINE_END=LF -P "${CHECK_OUTPUT}"
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${PREFIX}")
