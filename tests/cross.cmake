# Tests of a cross-built greeting: the Windows executable's headers, and the
# behaviour of any build that an emulator (Wine, QEMU) runs here.

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(pe_format pei-i386)
    set(pe_magic PE32)
    set(pe_flags DYNAMIC_BASE NX_COMPAT NO_SEH TERMINAL_SERVICE_AWARE)
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
            -D MANIFEST=${PROJECT_SOURCE_DIR}/windows/greeting.manifest
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_pe.cmake)
  greeting_add_package_test(ZIP PROGRAM ${CMAKE_INSTALL_BINDIR}/greeting.exe FILES ${CMAKE_INSTALL_DOCDIR}/LICENSE.txt)
  # Signing works for whoever holds a certificate: tried with a throwaway one.
  find_program(OPENSSL openssl)
  if(OPENSSL AND GREETING_OSSLSIGNCODE)
    add_test(NAME package.signed
      COMMAND ${CMAKE_COMMAND} -D CPACK=${CMAKE_CPACK_COMMAND} -D CONFIG=$<CONFIG>
              -D CONFIG_FILE=${PROJECT_BINARY_DIR}/CPackConfig.cmake
              -D SCRATCH=${CMAKE_CURRENT_BINARY_DIR}/signing-test
              -D OPENSSL=${OPENSSL} -D OSSLSIGNCODE=${GREETING_OSSLSIGNCODE}
              -D PROGRAM=${CPACK_GREETING_SIGNED_PROGRAM}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/check_signing.cmake)
  else()
    greeting_tool_missing(package.signed "openssl and osslsigncode" "openssl osslsigncode")
  endif()
  set(line_end CRLF)
else()
  set(line_end LF)
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(emulator_packages "wine32:i386 wine32-preloader:i386 (sudo .ci/prepare-wine32 sets them up)")
  elseif(WIN32)
    set(emulator_packages wine64)
  elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "wasm32")
    set(emulator_packages nodejs)
  else()
    set(emulator_packages qemu-user)
  endif()
  greeting_tool_missing(greeting.runs "an emulator of ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR}"
    "${emulator_packages}")
  return()
endif()

set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
if(WIN32)
  # Wine is started only through wine_run.py, which keeps greeting's streams
  # apart from Wine's and QEMU's own, gives every start a time limit, retries
  # a start that hangs or that the emulator kills, and ends every process of
  # the prefix when it gives up. One prefix for all the runs, made anew by the
  # first test and emptied of processes by the last; quiet, without the .NET
  # and HTML engines Wine would otherwise offer to install, without the crash
  # debugger, which would hold a run until its time limit, and without the
  # menu builder, one more emulated process that could hang.
  set(wine_run ${CMAKE_CURRENT_SOURCE_DIR}/wine_run.py)
  set(wine_prefix ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
  set(environment WINEPREFIX=${wine_prefix} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml,winedbg.exe,winemenubuilder.exe=d)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND environment WINEARCH=win32)
  endif()
  set(emulator ${wine_run} run ${CMAKE_CROSSCOMPILING_EMULATOR})
  add_test(NAME wine.prefix COMMAND ${wine_run} boot ${CMAKE_CROSSCOMPILING_EMULATOR})
  add_test(NAME wine.shutdown COMMAND ${wine_run} shutdown)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 800)
  set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine)
  set_tests_properties(wine.prefix wine.shutdown PROPERTIES
    ENVIRONMENT "${environment}" RESOURCE_LOCK ${wine_prefix})
endif()

# Node.js opens /dev/null on a closed standard output at its own start-up,
# before the module runs: greeting then finds it open, writes into nothing,
# and rightly says nothing. That is the runtime's doing, not greeting's, so
# while Node does it the test is skipped, saying so.
set(closed_stdout_probe "")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "wasm32")
  set(closed_stdout_probe ${GREETING_NODE} -e "require('fs').fstatSync(1)")
endif()

# The exact bytes, with and without arguments (Windows' text mode writes each
# line feed as CR LF: 53 bytes there), and refused writes reported.
function(add_run_test name stdout)
  list(JOIN ARGN "$<SEMICOLON>" arguments)
  list(JOIN emulator "$<SEMICOLON>" emulator_command)
  list(JOIN closed_stdout_probe "$<SEMICOLON>" probe)
  add_test(NAME greeting.${name}
    COMMAND ${CMAKE_COMMAND} -D PROGRAM=$<TARGET_FILE:greeting>
            "-D EMULATOR=${emulator_command}" -D LINE_END=${line_end}
            -D STDOUT=${stdout} "-D ARGS=${arguments}" "-D CLOSED_STDOUT_PROBE=${probe}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake)
  if(stdout STREQUAL "closed" AND probe)
    set_tests_properties(greeting.${name} PROPERTIES SKIP_REGULAR_EXPRESSION "(^|\n)Skipped: ")
    greeting_may_skip(greeting.${name})
  endif()
  if(WIN32)
    set_tests_properties(greeting.${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${environment}"
      RESOURCE_LOCK ${wine_prefix} TIMEOUT 300)
  endif()
endfunction()
add_run_test(output.no_arguments file)
add_run_test(output.assorted_arguments file --help -v /? %s%n -)
add_run_test(refused.full_device full)
add_run_test(refused.stdout_closed closed)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "wasm32")
  # WASI has no signals: a gone reader is a refused write like any other.
  add_run_test(refused.file_size_limit size_limit)
  add_run_test(refused.reader_gone reader_gone)
endif()
