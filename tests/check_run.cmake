# Runs greeting (under EMULATOR, if given) and checks, byte for byte, what it
# writes to standard output and standard error, and its exit status.
# -D PROGRAM=... [-D EMULATOR=...] -D LINE_END=LF|CRLF
# [-D ARGS=a;b;...]             arguments
# [-D STDOUT=file|full|closed|size_limit|reader_gone]
#     standard output on a file (the default), on /dev/full, closed, on a
#     file under a file-size limit of 0 with SIGXFSZ ignored, or on a pipe
#     whose reader has gone with SIGPIPE ignored
# [-D CLOSED_STDOUT_PROBE=command]  with STDOUT=closed: a command that
#     succeeds where the emulator opens a closed standard output itself
#     before the program starts; the test is then skipped, saying so
# An emulator that has something to say of the run (that it retried a start,
# say) appends it to the file GREETING_EMULATOR_LOG names; it is shown here.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/skip.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/expected_output.cmake)
if(LINE_END STREQUAL "CRLF")
  set(eol "\r\n")
else()
  set(eol "\n")
endif()
if(NOT STDOUT)
  set(STDOUT file)
endif()

if(STDOUT STREQUAL "file")
  set(expected_out "${GREETING_EXPECTED_FIRST_LINE}${eol}${GREETING_EXPECTED_SECOND_LINE}${eol}")
  set(expected_err "")
  set(expected_status 0)
else()
  set(expected_out "")
  set(reason_full "No space left on device")
  set(reason_closed "Bad file descriptor")
  set(reason_size_limit "File too large")
  set(reason_reader_gone "Broken pipe")
  set(expected_err "${GREETING_EXPECTED_DIAGNOSTIC}: ${reason_${STDOUT}}${eol}")
  set(expected_status 1)
endif()

# Files of their own, so that runs in parallel never share them; standard
# error goes to a file too, as an emulator's helpers may hold a pipe open
# long after the program has ended.
string(RANDOM LENGTH 12 token)
set(out "${CMAKE_CURRENT_BINARY_DIR}/check_run_${token}.out")
set(err "${CMAKE_CURRENT_BINARY_DIR}/check_run_${token}.err")
set(emulator_log "${CMAKE_CURRENT_BINARY_DIR}/check_run_${token}.log")
set(ENV{GREETING_EMULATOR_LOG} "${emulator_log}")
file(TOUCH "${out}")
set(command ${EMULATOR} ${PROGRAM} ${ARGS})
if(STDOUT STREQUAL "file")
  execute_process(COMMAND ${command} OUTPUT_FILE "${out}" ERROR_FILE "${err}" RESULT_VARIABLE status)
elseif(STDOUT STREQUAL "full")
  execute_process(COMMAND ${command} OUTPUT_FILE /dev/full ERROR_FILE "${err}" RESULT_VARIABLE status)
elseif(STDOUT STREQUAL "closed")
  if(CLOSED_STDOUT_PROBE)
    execute_process(COMMAND sh -c "exec \"$@\" >&-" sh ${CLOSED_STDOUT_PROBE} RESULT_VARIABLE probe ERROR_QUIET)
    if(probe EQUAL 0)
      greeting_skip("the emulator opens a closed standard output itself before the program starts, "
        "so the program cannot see it closed")
      return()
    endif()
  endif()
  execute_process(COMMAND sh -c "exec \"$@\" >&-" sh ${command} ERROR_FILE "${err}" RESULT_VARIABLE status)
elseif(STDOUT STREQUAL "size_limit")
  # Standard error on a pipe: under the limit a file would refuse the
  # diagnostic too.
  execute_process(COMMAND sh -c "ulimit -f 0 && trap '' XFSZ && exec \"$@\"" sh ${command}
    OUTPUT_FILE "${out}" ERROR_VARIABLE err_text RESULT_VARIABLE status)
  file(WRITE "${err}" "${err_text}")
elseif(STDOUT STREQUAL "reader_gone")
  find_program(PYTHON3 python3 REQUIRED)
  execute_process(COMMAND ${PYTHON3} -c "if True:
      import os, signal, sys
      signal.signal(signal.SIGPIPE, signal.SIG_IGN)
      reader, writer = os.pipe()
      os.close(reader)
      os.dup2(writer, 1)
      os.execvp(sys.argv[1], sys.argv[1:])" ${command}
    ERROR_FILE "${err}" RESULT_VARIABLE status)
else()
  message(FATAL_ERROR "STDOUT must be file, full, closed, size_limit or reader_gone, not '${STDOUT}'")
endif()
file(READ "${out}" out_hex HEX)
file(READ "${out}" out_text)
file(READ "${err}" err_hex HEX)
file(READ "${err}" err_text)
if(EXISTS "${emulator_log}")
  file(READ "${emulator_log}" emulator_said)
  message(NOTICE "${emulator_said}")
endif()
file(REMOVE "${out}" "${err}" "${emulator_log}")
string(HEX "${expected_out}" expected_out_hex)
string(HEX "${expected_err}" expected_err_hex)

set(failures "")
if(NOT out_hex STREQUAL expected_out_hex)
  string(APPEND failures "  standard output: wanted '${expected_out}' (${expected_out_hex})\n"
    "                   found  '${out_text}' (${out_hex})\n")
endif()
if(NOT err_hex STREQUAL expected_err_hex)
  string(APPEND failures "  standard error: wanted '${expected_err}' (${expected_err_hex})\n"
    "                  found  '${err_text}' (${err_hex})\n")
endif()
if(NOT status STREQUAL expected_status)
  string(APPEND failures "  exit status: wanted ${expected_status}, found ${status}\n")
endif()
if(failures)
  message(FATAL_ERROR "greeting ${ARGS} with standard output ${STDOUT}:\n${failures}")
endif()
