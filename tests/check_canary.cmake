# Fails unless greeting's own code that keeps a buffer on the stack (the
# report's line) checks a canary before it returns: one of greeting's own
# functions, in the program as linked and before it is stripped, calls
# __stack_chk_fail (__stack_chk_fail_local on 32-bit x86).
# -D PROGRAM=... -D OBJDUMP=... -D NM=... -D OBJECTS=a.o;...
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${NM} --defined-only --format=posix ${OBJECTS}
  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n[^ \n]+ [Tt] " functions "\n${symbols}")
set(checked "")
foreach(function IN LISTS functions)
  string(REGEX REPLACE "^\n([^ ]+) .*$" "\\1" function "${function}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${OBJDUMP} --disassemble=${function} ${PROGRAM}
    OUTPUT_VARIABLE code COMMAND_ERROR_IS_FATAL ANY)
  if(code MATCHES "__stack_chk_fail")
    return()
  endif()
  list(APPEND checked ${function})
endforeach()
message(FATAL_ERROR "none of greeting's own functions in ${PROGRAM} checks a stack canary: ${checked}")
