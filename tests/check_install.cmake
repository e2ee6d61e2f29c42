# Installs the build into a scratch prefix and runs what was installed.
# -D BUILD_DIR=... -D CONFIG=... -D PREFIX=... -D BINDIR=... -D MANDIR=...
# -D RUNNER=python3;black_box.py
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}" --prefix "${PREFIX}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
foreach(installed "${BINDIR}/greeting" "${MANDIR}/man1/greeting.1.gz")
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
execute_process(COMMAND ${RUNNER} run arguments.none "${PREFIX}/${BINDIR}/greeting" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${PREFIX}")
