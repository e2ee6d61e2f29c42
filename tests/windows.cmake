# Tests of the Windows executable as it ships: its headers and resources,
# the release zip, and signing it.
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
