# Tests of the Windows executable as it ships: its headers and resources,
# the release zip, and signing it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(pe_format pei-i386)
  set(pe_magic PE32)
  set(pe_flags DYNAMIC_BASE NX_COMPAT NO_SEH TERMINAL_SERVICE_AWARE)
  set(pe_imports windows-x86.imports)
else()
  set(pe_format pei-x86-64)
  set(pe_magic PE32+)
  set(pe_flags HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
  set(pe_imports windows-x64.imports)
endif()
list(JOIN pe_flags "$<SEMICOLON>" pe_flags)
add_test(NAME package.windows_exe
  COMMAND ${CMAKE_COMMAND} -D CPACK=${CMAKE_CPACK_COMMAND} -D CONFIG=$<CONFIG>
          -D CONFIG_FILE=${PROJECT_BINARY_DIR}/CPackConfig.cmake
          -D SCRATCH=${CMAKE_CURRENT_BINARY_DIR}/windows-exe-test
          -D OBJDUMP=${CMAKE_OBJDUMP} -D WINDRES=${CMAKE_RC_COMPILER}
          -D FORMAT=${pe_format} -D MAGIC=${pe_magic} "-D FLAGS=${pe_flags}"
          -D IMPORTS=${CMAKE_CURRENT_SOURCE_DIR}/${pe_imports}
          -D VERSION=${PROJECT_VERSION} "-D COPYRIGHT=${GREETING_COPYRIGHT_NOTICE}"
          -D RELEASE_EPOCH=${GREETING_RELEASE_EPOCH}
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
