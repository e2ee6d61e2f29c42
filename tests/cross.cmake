# Tests of a cross-built greeting: the Windows executable's headers, and the
# behaviour of any build that an emulator (Wine, QEMU) runs here.

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(pe_format pei-i386)
    set(pe_magic PE32)
    set(pe_flags DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
  else()
    set(pe_format pei-x86-64)
    set(pe_magic PE32+)
    set(pe_flags HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
  endif()
  list(JOIN pe_flags "$<SEMICOLON>" pe_flags)
  add_test(NAME greeting.windows_headers
    COMMAND ${CMAKE_COMMAND} -D PROGRAM=$<TARGET_FILE:greeting>
            -D OBJDUMP=${CMAKE_OBJDUMP} -D WINDRES=${CMAKE_RC_COMPILER}
            -D FORMAT=${pe_format} -D MAGIC=${pe_magic} "-D FLAGS=${pe_flags}" "-D DLLS=KERNEL32.dll$<SEMICOLON>msvcrt.dll"
            -D VERSION=${PROJECT_VERSION} "-D COPYRIGHT=${GREETING_COPYRIGHT_NOTICE}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_pe.cmake)
  greeting_add_package_test(ZIP PROGRAM ${CMAKE_INSTALL_BINDIR}/greeting.exe FILES ${CMAKE_INSTALL_DOCDIR}/LICENSE.txt)
  set(line_end CRLF)
else()
  set(line_end LF)
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "No emulator runs ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} programs here: "
    "greeting is built but not run by the tests")
  return()
endif()

set(environment "")
set(noise "")
if(WIN32)
  # One Wine prefix for all the runs, made by the first; quiet, without the
  # .NET and HTML engines Wine would otherwise offer to install, and without
  # the crash debugger, which would hold a run until its timeout.
  set(environment
    WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wineprefix
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml,winedbg.exe=d)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND environment WINEARCH=win32)
    # Where the kernel cannot run 32-bit x86 code, QEMU runs 32-bit Wine, and
    # Wine's own helper processes now and then crash under it, saying so on
    # the standard error they share with the program. Those lines are not
    # greeting's; they are set aside before standard error is compared.
    set(noise "qemu: |wine: |wine client error:|\\*\\*\\* stack smashing detected \\*\\*\\*|Inconsistency detected by ld\\.so:")
  endif()
  add_test(NAME wine.prefix COMMAND greeting)
  set_tests_properties(wine.prefix PROPERTIES
    FIXTURES_SETUP wine ENVIRONMENT "${environment}" TIMEOUT 600)
endif()

# The exact bytes, with and without arguments (Windows' text mode writes each
# line feed as CR LF: 53 bytes there), and refused writes reported.
function(add_run_test name stdout)
  list(JOIN ARGN "$<SEMICOLON>" arguments)
  add_test(NAME greeting.${name}
    COMMAND ${CMAKE_COMMAND} -D PROGRAM=$<TARGET_FILE:greeting>
            "-D EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -D LINE_END=${line_end}
            -D STDOUT=${stdout} "-D ARGS=${arguments}" "-D NOISE=${noise}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake)
  if(WIN32)
    set_tests_properties(greeting.${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${environment}")
  endif()
endfunction()
add_run_test(output.no_arguments file)
add_run_test(output.assorted_arguments file --help -v /? %s%n -)
add_run_test(refused.full_device full)
add_run_test(refused.stdout_closed closed)
