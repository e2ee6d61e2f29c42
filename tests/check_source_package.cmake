# Makes the source package and checks that it is one .tar.gz holding the
# sources, without build trees or version control.
# -D CPACK=... -D CONFIG_FILE=CPackSourceConfig.cmake -D SCRATCH=...
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CPACK} --config "${CONFIG_FILE}" -B "${SCRATCH}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB packages RELATIVE "${SCRATCH}" "${SCRATCH}/*.*")
if(NOT packages MATCHES "^greeting-[0-9.]+-Source\\.tar\\.gz$")
  message(FATAL_ERROR "wanted one greeting-VERSION-Source.tar.gz, found: ${packages}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tzf "${SCRATCH}/${packages}" OUTPUT_VARIABLE listing
  COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n]+" entries "${listing}")
list(TRANSFORM entries REPLACE "^[^/]+/(.*)$" "\\1")
foreach(needed CMakeLists.txt CMakePresets.json LICENSE README.md .ci/run src/main.cpp tests/black_box.py)
  if(NOT needed IN_LIST entries)
    message(FATAL_ERROR "the source package lacks ${needed}:\n${listing}")
  endif()
endforeach()
list(FILTER entries INCLUDE REGEX "^(build|\\.git)/")
if(entries)
  message(FATAL_ERROR "the source package holds what is not a source: ${entries}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
