# With a tool missing, configuring stops with the one line that names it
# and how to install it; a failed C++ library check is not remembered.
# -D SOURCE_DIR=... -D SCRATCH=... -D GENERATOR=...
cmake_minimum_required(VERSION 3.25)
set(failures "")
foreach(case_and_options
    "nonexistent-linux-gnu-g++;-DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/toolchains/linux-gnu-cross.cmake;-DGREETING_CROSS_TRIPLE=nonexistent-linux-gnu"
    "libnothing;-DGREETING_CXX_STDLIB=libnothing")
  list(POP_FRONT case_and_options missing)
  file(REMOVE_RECURSE "${SCRATCH}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${SCRATCH}" -G "${GENERATOR}" ${case_and_options}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  string(REGEX MATCHALL "CMake Error[^\n]*\n[^\n]*" errors "${output}")
  list(LENGTH errors count)
  string(FIND "${output}" "  ${missing} is not installed (" named)
  if(status EQUAL 0 OR NOT count EQUAL 1 OR named EQUAL -1)
    string(APPEND failures "with ${missing} missing, wanted one error naming it, found ${count}:\n${output}\n")
  endif()
  file(STRINGS "${SCRATCH}/CMakeCache.txt" remembered REGEX "^GREETING_CXX_STDLIB_WORKS")
  if(remembered)
    string(APPEND failures "the failed check of ${missing} is remembered: ${remembered}\n")
  endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
