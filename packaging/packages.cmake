# How greeting is installed, and the packages made of that install.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/release_date.cmake)
greeting_release_date(DATE ${GREETING_RELEASE_DATE}
  EPOCH GREETING_RELEASE_EPOCH RFC2822 GREETING_RELEASE_DATE_RFC2822)

set(CPACK_PACKAGE_VENDOR ${GREETING_AUTHORS})
set(CPACK_PACKAGE_CONTACT "greeting maintainers <maintainers@users.noreply.c-seed-3fb466da.example>")

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
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:greeting>\"
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
endif()

option(GREETING_DEBIAN_DOCS
  "Install the licence and the changelog as Debian names them (copyright, changelog.gz)" OFF)
if(GREETING_DEBIAN_DOCS)
  # Debian's machine-readable copyright format: the licence's terms, each
  # line indented and each blank line a lone dot.
  file(READ LICENSE licence)
  string(REGEX REPLACE "^.*\nCopyright \\(c\\) [^\n]*\n\n" "" terms "${licence}")
  string(REGEX REPLACE "\n+$" "" terms "${terms}")
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms "${terms}")
  set(GREETING_LICENCE_TERMS " ${terms}")
  string(REGEX REPLACE "^Copyright \\(c\\) " "" GREETING_COPYRIGHT_HOLDERS "${GREETING_COPYRIGHT_NOTICE}")
  configure_file(packaging/copyright.in doc/copyright @ONLY)
  configure_file(packaging/changelog.in doc/changelog @ONLY)
  greeting_gzip(${CMAKE_CURRENT_BINARY_DIR}/doc/changelog)
  add_custom_target(changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
  add_dependencies(greeting changelog)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/copyright ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
elseif(WIN32)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.txt)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Packages: a .zip on Windows (not an installer: there is nothing to set up),
# a .tar.gz elsewhere, and a .deb on request (cpack -G DEB).
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()
set(CPACK_STRIP_FILES ON)
# Beside each package, PACKAGE.sha256, to check a download against.
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
greeting writes two fixed lines to standard output and ends: the first
through C's printf, the second through C++'s std::cout, each naming the
route that wrote it. Both lines leave in the order written, whether
standard output is a terminal, a file or a pipe.

A write that standard output refuses, even one refused only when it is
closed, is reported on standard error with exit status 1, so the program
also serves as a quick check of a C and C++ toolchain and its runtime.")
# A static build needs no shared libraries; a dynamic one gets its dependencies.
if(NOT GREETING_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

if(WIN32)
  # Signing, for whoever holds a code-signing certificate: the key never
  # enters the source tree or a package, only the signature does.
  set(GREETING_SIGNING_CERT "" CACHE FILEPATH
    "PEM certificate that Authenticode-signs greeting.exe in the release zip; empty: unsigned")
  set(GREETING_SIGNING_KEY "" CACHE FILEPATH "The certificate's private key: PEM, unencrypted")
  set(GREETING_SIGNING_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping authority that countersigns the signature; empty: none")
  find_program(GREETING_OSSLSIGNCODE osslsigncode)
  if(GREETING_SIGNING_CERT OR GREETING_SIGNING_KEY)
    if(NOT GREETING_SIGNING_CERT OR NOT GREETING_SIGNING_KEY)
      message(FATAL_ERROR "set both GREETING_SIGNING_CERT and GREETING_SIGNING_KEY, or neither")
    endif()
    if(NOT GREETING_OSSLSIGNCODE)
      greeting_stop_missing(osslsigncode osslsigncode)
    endif()
  endif()
  set(CPACK_GREETING_SIGNING_CERT ${GREETING_SIGNING_CERT})
  set(CPACK_GREETING_SIGNING_KEY ${GREETING_SIGNING_KEY})
  set(CPACK_GREETING_OSSLSIGNCODE ${GREETING_OSSLSIGNCODE})
  set(CPACK_GREETING_TIMESTAMP_URL ${GREETING_SIGNING_TIMESTAMP_URL})
  list(APPEND CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_sign.cmake)
endif()
cmake_path(SET CPACK_GREETING_PROGRAM NORMALIZE ${CMAKE_INSTALL_BINDIR}/greeting${CMAKE_EXECUTABLE_SUFFIX})

# What other projects' code the linker puts into greeting (the C and C++
# runtimes' start-up code, and the libraries themselves where it links
# statically) ships with their notices and a bill of materials, which
# cpack_third_party.cmake writes from the linker's map of the link. Not
# where greeting is installed as Debian installs it: a .deb links
# dynamically, and its copyright file is greeting's own. Not for
# WebAssembly, which does not ship.
if(NOT GREETING_DEBIAN_DOCS AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "wasm32")
  set(CPACK_GREETING_THIRD_PARTY ON)
  set(CPACK_GREETING_LINK_MAP ${PROJECT_BINARY_DIR}/greeting.map)
  target_link_options(greeting PRIVATE LINKER:-Map=${CPACK_GREETING_LINK_MAP})
  if(WIN32)
    set(CPACK_GREETING_NOTICES THIRD-PARTY-NOTICES.txt)
  else()
    set(CPACK_GREETING_NOTICES THIRD-PARTY-NOTICES)
  endif()
  cmake_path(SET CPACK_GREETING_NOTICES NORMALIZE ${CMAKE_INSTALL_DOCDIR}/${CPACK_GREETING_NOTICES})
  cmake_path(SET CPACK_GREETING_BOM NORMALIZE ${CMAKE_INSTALL_DOCDIR}/greeting.cdx.json)
  # The SPDX name of greeting's own licence: LICENSE's title, "MIT License".
  file(STRINGS LICENSE title LIMIT_COUNT 1)
  string(REGEX REPLACE " License$" "" CPACK_GREETING_LICENCE "${title}")
  list(APPEND CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_third_party.cmake)
endif()

# The sources alone, without build trees or version control. The patterns
# are regular expressions, and cpack reads them from a file of CMake code:
# the directories' own special characters are escaped twice.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-Source)
# Packages land in the build tree, wherever cpack is run from: never in the
# sources, where the next source package would pack them too.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\\\\\1" source_dir "${PROJECT_SOURCE_DIR}")
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\\\\\1" binary_dir "${PROJECT_BINARY_DIR}")
set(CPACK_SOURCE_IGNORE_FILES "^${source_dir}/(build|\\\\.git)(/|$)" "^${binary_dir}/" "/__pycache__/")

# cpack reads this when it packs: unless SOURCE_DATE_EPOCH says otherwise,
# every file in a package carries the release's date, so that the same
# sources give the same packages.
set(CPACK_GREETING_RELEASE_EPOCH ${GREETING_RELEASE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_release_date.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_reproducible_archive.cmake)
include(CPack)
