# Fails unless greeting's own code checks a stack canary: its objects call
# __stack_chk_fail (__stack_chk_fail_local on 32-bit x86), which only the
# code the compiler adds for the canary calls, and the program, as linked
# and before it is stripped, holds that function or imports it.
# -D PROGRAM=... -D NM=... -D OBJECTS=a.o;...
cmake_minimum_required(VERSION 3.25)
foreach(file IN LISTS OBJECTS PROGRAM)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${NM} ${file} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  set(kind U)
  if(file STREQUAL PROGRAM)
    set(kind "[TU]")
  endif()
  if(NOT symbols MATCHES " ${kind} __stack_chk_fail(_local)?(@[^\n]*)?\n")
    message(FATAL_ERROR "${file} lacks __stack_chk_fail: greeting's code checks no stack canary")
  endif()
endforeach()
