# Fails unless greeting's objects call __stack_chk_fail(_local), as only the
# canary's check does, and the program before stripping holds or imports it.
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
