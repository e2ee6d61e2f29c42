# Runs greeting (under EMULATOR, if given) and checks its standard output byte
# for byte, that standard error stays empty and that it exits with status 0.
# -D PROGRAM=... [-D EMULATOR=...] -D LINE_END=LF|CRLF [-D ARGS=a;b;...]
if(LINE_END STREQUAL "CRLF")
  set(eol "\r\n")
else()
  set(eol "\n")
endif()
set(expected "Hello Belmorax, C style${eol}Hello Belmorax, C++ style ${eol}")

# A name of its own, so that runs in parallel never share the file.
string(RANDOM LENGTH 12 token)
set(out "${CMAKE_CURRENT_BINARY_DIR}/check_output_${token}.out")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
  OUTPUT_FILE "${out}" ERROR_VARIABLE err RESULT_VARIABLE status)
file(READ "${out}" output_hex HEX)
file(REMOVE "${out}")
string(HEX "${expected}" expected_hex)

set(failures "")
if(NOT output_hex STREQUAL expected_hex)
  string(APPEND failures "  standard output: wanted ${expected_hex}\n                   found  ${output_hex}\n")
endif()
if(NOT err STREQUAL "")
  string(APPEND failures "  standard error not empty: ${err}\n")
endif()
if(NOT status STREQUAL "0")
  string(APPEND failures "  exit status: wanted 0, found ${status}\n")
endif()
if(failures)
  message(FATAL_ERROR "greeting ${ARGS}:\n${failures}")
endif()
