# How greeting is installed. Where each file goes is decided here, once, and
# read by the packages and their tests: GREETING_INSTALLED_PROGRAM, and
# GREETING_INSTALLED_DOCS, the licence, the manual page and, where they
# ship, the third-party notices (GREETING_INSTALLED_NOTICES) and the bill of
# materials (GREETING_INSTALLED_BOM), each relative to the prefix.
# greeting's licence is read here, once, too: its copyright notice
# (GREETING_COPYRIGHT_NOTICE), its years and holders as Debian's copyright
# file gives them (GREETING_COPYRIGHT_HOLDERS), who holds it
# (GREETING_AUTHORS) and its SPDX name (GREETING_LICENCE).
include(GNUInstallDirs)

# LICENSE: "MIT License", then the copyright notice, then the terms.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "^([^\n]*) License\n" _ "${licence_text}")
set(GREETING_LICENCE ${CMAKE_MATCH_1})
string(REGEX MATCH "\n(Copyright \\(c\\) ([-0-9, ]+([^\n]+)))\n" _ "${licence_text}")
set(GREETING_COPYRIGHT_NOTICE ${CMAKE_MATCH_1})
set(GREETING_COPYRIGHT_HOLDERS ${CMAKE_MATCH_2})
set(GREETING_AUTHORS ${CMAKE_MATCH_3})

# Directories that installing creates get the usual modes, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# LLVM 14's strip, which CMake picks for Clang where an unversioned
# llvm-strip is installed, refuses statically linked glibc programs ("Link
# field value ... in section .rela.plt"); binutils' strip takes them.
if(GREETING_STATIC AND CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF" AND CMAKE_STRIP MATCHES "llvm-strip")
  find_program(GREETING_BINUTILS_STRIP strip)
  if(GREETING_BINUTILS_STRIP)
    set(CMAKE_STRIP ${GREETING_BINUTILS_STRIP})
  endif()
endif()

install(TARGETS greeting)
cmake_path(SET GREETING_INSTALLED_PROGRAM NORMALIZE ${CMAKE_INSTALL_BINDIR}/greeting${CMAKE_EXECUTABLE_SUFFIX})
set(GREETING_INSTALLED_DOCS "")
if(CMAKE_HOST_UNIX)
  # An install as root leaves CMake's list of what it installed
  # (install_manifest.txt, written last) to whoever owns the build tree, so
  # that their own installs from it can still write it.
  string(CONFIGURE [[
    set(manifest "@PROJECT_BINARY_DIR@/install_manifest.txt")
    if(CMAKE_INSTALL_COMPONENT)
      set(manifest "@PROJECT_BINARY_DIR@/install_manifest_${CMAKE_INSTALL_COMPONENT}.txt")
    endif()
    execute_process(COMMAND id -u OUTPUT_VARIABLE installer OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND stat -c %u:%g "@PROJECT_BINARY_DIR@" OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(installer STREQUAL "0" AND NOT owner MATCHES "^0:")
      file(TOUCH "${manifest}")
      execute_process(COMMAND chown "${owner}" "${manifest}" COMMAND_ERROR_IS_FATAL ANY)
    endif()]] keep_manifest_owner @ONLY)
  install(CODE "${keep_manifest_owner}")
endif()
if(NOT WIN32)
  # A stripped install drops the compiler's identification too, as Debian's
  # own packages do.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${GREETING_INSTALLED_PROGRAM}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")

  # Compressed as distributions ship them: at the highest level, and with no
  # name or time in the gzip header, so the same text gives the same bytes.
  greeting_find_required(GZIP gzip)
  function(greeting_gzip file)
    add_custom_command(OUTPUT ${file}.gz
      COMMAND ${GZIP} -9 -n -k -f ${file}
      DEPENDS ${file}
      VERBATIM)
  endfunction()

  configure_file(man/greeting.1.in man/greeting.1 @ONLY)
  greeting_gzip(${CMAKE_CURRENT_BINARY_DIR}/man/greeting.1)
  add_custom_target(manual_page ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/greeting.1.gz)
  # Built with the program, so that a tree where only greeting was built
  # installs whole.
  add_dependencies(greeting manual_page)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/greeting.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(GREETING_INSTALLED_MANUAL ${CMAKE_INSTALL_MANDIR}/man1/greeting.1.gz)
  list(APPEND GREETING_INSTALLED_DOCS ${GREETING_INSTALLED_MANUAL})
endif()

option(GREETING_DEBIAN_DOCS
  "Install the licence and the changelog as Debian names them (copyright, changelog.gz)" OFF)
if(GREETING_DEBIAN_DOCS)
  # Debian's machine-readable copyright format: the licence's terms, each
  # line indented and each blank line a lone dot.
  string(REGEX REPLACE "^.*\nCopyright \\(c\\) [^\n]*\n\n" "" terms "${licence_text}")
  string(REGEX REPLACE "\n+$" "" terms "${terms}")
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms "${terms}")
  set(GREETING_LICENCE_TERMS " ${terms}")
  configure_file(packaging/copyright.in doc/copyright @ONLY)
  configure_file(packaging/changelog.in doc/changelog @ONLY)
  greeting_gzip(${CMAKE_CURRENT_BINARY_DIR}/doc/changelog)
  add_custom_target(changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
  add_dependencies(greeting changelog)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/copyright ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  list(APPEND GREETING_INSTALLED_DOCS ${CMAKE_INSTALL_DOCDIR}/copyright ${CMAKE_INSTALL_DOCDIR}/changelog.gz)
elseif(WIN32)
  # Each line ending in CR LF, as Notepad before Windows 10 1809 reads them.
  string(REPLACE "\n" "\r\n" licence_text "${licence_text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/doc/LICENSE.txt "${licence_text}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/LICENSE.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})
  list(APPEND GREETING_INSTALLED_DOCS ${CMAKE_INSTALL_DOCDIR}/LICENSE.txt)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  list(APPEND GREETING_INSTALLED_DOCS ${CMAKE_INSTALL_DOCDIR}/LICENSE)
endif()

# What other projects' code the linker puts into greeting (the C and C++
# runtimes' start-up code, and the libraries themselves where it links
# statically) ships with its notices and a bill of materials, which the
# packages write beside greeting's licence when they pack. Not for
# WebAssembly, which does not ship.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "wasm32")
  set(can_list_third_party ON)
endif()
option(GREETING_THIRD_PARTY_NOTICES
  "Ship the notices and a bill of materials of what other projects' code is linked into greeting"
  ${can_list_third_party})
if(GREETING_THIRD_PARTY_NOTICES)
  set(GREETING_INSTALLED_NOTICES THIRD-PARTY-NOTICES)
  if(WIN32)
    set(GREETING_INSTALLED_NOTICES THIRD-PARTY-NOTICES.txt)
  endif()
  cmake_path(SET GREETING_INSTALLED_NOTICES NORMALIZE ${CMAKE_INSTALL_DOCDIR}/${GREETING_INSTALLED_NOTICES})
  cmake_path(SET GREETING_INSTALLED_BOM NORMALIZE ${CMAKE_INSTALL_DOCDIR}/greeting.cdx.json)
  list(APPEND GREETING_INSTALLED_DOCS ${GREETING_INSTALLED_NOTICES} ${GREETING_INSTALLED_BOM})
endif()
list(TRANSFORM GREETING_INSTALLED_DOCS REPLACE "^\\./" "")
