# Builds greeting as nobody, installs it as root, then as its owner, as a
# user's own install follows `sudo cmake --install build`.
# -D SOURCE_DIR=...
cmake_minimum_required(VERSION 3.25)
# Not in the build tree, where nobody may not be let in.
execute_process(COMMAND mktemp -d --tmpdir greeting-install-test.XXXXXX
  OUTPUT_VARIABLE SCRATCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY "${SCRATCH}/sources")
file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
list(REMOVE_ITEM sources build .git)
foreach(entry IN LISTS sources)
  file(COPY "${SOURCE_DIR}/${entry}" DESTINATION "${SCRATCH}/sources")
endforeach()
execute_process(COMMAND chown -R nobody:nogroup "${SCRATCH}" COMMAND_ERROR_IS_FATAL ANY)
set(as_owner setpriv --reuid=nobody --regid=nogroup --clear-groups)
foreach(step "-S;${SCRATCH}/sources;-B;${SCRATCH}/build;-DBUILD_TESTING=OFF" "--build;${SCRATCH}/build")
  execute_process(COMMAND ${as_owner} ${CMAKE_COMMAND} ${step} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} --install "${SCRATCH}/build" --prefix "${SCRATCH}/by-root"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${as_owner} ${CMAKE_COMMAND} --install "${SCRATCH}/build" --prefix "${SCRATCH}/by-owner"
  OUTPUT_QUIET ERROR_VARIABLE error RESULT_VARIABLE status)
file(REMOVE_RECURSE "${SCRATCH}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "after an install as root, the build tree's owner cannot install from it:\n${error}")
endif()
