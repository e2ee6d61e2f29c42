# Tests of the Windows executable: its headers here, its behaviour under Wine
# where an emulator is set.

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(pe_format pei-i386)
  set(pe_magic PE32)
else()
  set(pe_format pei-x86-64)
  set(pe_magic PE32+)
endif()
add_test(NAME greeting.windows_headers
  COMMAND ${CMAKE_COMMAND} -D PROGRAM=$<TARGET_FILE:greeting>
          -D OBJDUMP=${CMAKE_OBJDUMP} -D WINDRES=${CMAKE_RC_COMPILER}
          -D FORMAT=${pe_format} -D MAGIC=${pe_magic} "-D DLLS=KERNEL32.dll\\;msvcrt.dll"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_pe.cmake)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

# One Wine prefix for all the runs, made by the first; quiet, and without the
# .NET and HTML engines Wine would otherwise offer to install.
set(wine_environment
  WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wineprefix
  WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=")
add_test(NAME wine.prefix COMMAND greeting)
set_tests_properties(wine.prefix PROPERTIES
  FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}" TIMEOUT 300)

# The C runtime's text mode writes each line feed as CR LF: 53 bytes.
foreach(case IN ITEMS no_arguments assorted_arguments)
  set(arguments "")
  if(case STREQUAL "assorted_arguments")
    set(arguments "--help\\;/?\\;%s%n\\;-")
  endif()
  add_test(NAME greeting.windows_output.${case}
    COMMAND ${CMAKE_COMMAND} -D PROGRAM=$<TARGET_FILE:greeting>
            "-D EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -D LINE_END=CRLF "-D ARGS=${arguments}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_output.cmake)
  set_tests_properties(greeting.windows_output.${case} PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${wine_environment}")
endforeach()
