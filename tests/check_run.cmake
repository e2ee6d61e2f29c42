# Runs greeting (under EMULATOR, if given) and checks, byte for byte, what it
# writes to standard output and standard error, and its exit status.
# -D PROGRAM=... [-D EMULATOR=...] -D LINE_END=LF|CRLF
# [-D ARGS=a;b;...]             arguments
# [-D STDOUT=file|full|closed]  standard output on a file (the default), on
#                               /dev/full or closed
# [-D NOISE=regex]              lines of standard error the emulator may add,
#                               set aside before it is compared
cmake_minimum_required(VERSION 3.25)
if(LINE_END STREQUAL "CRLF")
  set(eol "\r\n")
else()
  set(eol "\n")
endif()
if(NOT STDOUT)
  set(STDOUT file)
endif()

if(STDOUT STREQUAL "file")
  set(expected_out "Hello Belmorax, C style${eol}Hello Belmorax, C++ style ${eol}")
  set(expected_err "")
  set(expected_status 0)
else()
  set(expected_out "")
  set(reason_full "No space left on device")
  set(reason_closed "Bad file descriptor")
  set(expected_err "greeting: write error: ${reason_${STDOUT}}${eol}")
  set(expected_status 1)
endif()

# Files of their own, so that runs in parallel never share them; standard
# error goes to a file too, as an emulator's helpers may hold a pipe open
# long after the program has ended.
string(RANDOM LENGTH 12 token)
set(out "${CMAKE_CURRENT_BINARY_DIR}/check_run_${token}.out")
set(err "${CMAKE_CURRENT_BINARY_DIR}/check_run_${token}.err")
file(TOUCH "${out}")
set(command ${EMULATOR} ${PROGRAM} ${ARGS})
if(STDOUT STREQUAL "file")
  execute_process(COMMAND ${command} OUTPUT_FILE "${out}" ERROR_FILE "${err}" RESULT_VARIABLE status)
elseif(STDOUT STREQUAL "full")
  execute_process(COMMAND ${command} OUTPUT_FILE /dev/full ERROR_FILE "${err}" RESULT_VARIABLE status)
elseif(STDOUT STREQUAL "closed")
  execute_process(COMMAND sh -c "exec \"$@\" >&-" sh ${command} ERROR_FILE "${err}" RESULT_VARIABLE status)
else()
  message(FATAL_ERROR "STDOUT must be file, full or closed, not '${STDOUT}'")
endif()
file(READ "${out}" out_hex HEX)
file(READ "${err}" err_hex HEX)
file(READ "${err}" err_text)  # file(READ) drops each CR before a LF
file(REMOVE "${out}" "${err}")
string(HEX "${expected_out}" expected_out_hex)
string(HEX "${expected_err}" expected_err_hex)

set(failures "")
if(NOT out_hex STREQUAL expected_out_hex)
  string(APPEND failures "  standard output: wanted ${expected_out_hex}\n                   found  ${out_hex}\n")
endif()
if(NOISE)
  # Without the emulator's lines, the text must be greeting's, and greeting's
  # line must be there with its own line end.
  string(REGEX REPLACE "(^|\n)(${NOISE})[^\n]*" "\\1" err_text "${err_text}")
  string(REGEX REPLACE "\n\n+" "\n" err_text "${err_text}")
  string(REGEX REPLACE "^\n" "" err_text "${err_text}")
  string(REPLACE "\r\n" "\n" expected_err_text "${expected_err}")
  if(NOT err_text STREQUAL expected_err_text OR (expected_err_hex AND NOT err_hex MATCHES "${expected_err_hex}"))
    string(APPEND failures "  standard error: wanted '${expected_err}' (${expected_err_hex}) among lines of "
      "the emulator's\n                  found  (${err_hex})\n")
  endif()
elseif(NOT err_hex STREQUAL expected_err_hex)
  string(APPEND failures "  standard error: wanted '${expected_err}' (${expected_err_hex})\n"
    "                  found  '${err_text}' (${err_hex})\n")
endif()
if(NOT status STREQUAL expected_status)
  string(APPEND failures "  exit status: wanted ${expected_status}, found ${status}\n")
endif()
if(failures)
  message(FATAL_ERROR "greeting ${ARGS} with standard output ${STDOUT}:\n${failures}")
endif()
