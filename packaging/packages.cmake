# The packages made of greeting's install (install.cmake), by CPack: a .zip
# on Windows (not an installer: there is nothing to set up), a .tar.gz
# elsewhere, a .deb on request (cpack -G DEB), and the source package.
set(CPACK_PACKAGE_VENDOR ${GREETING_AUTHORS})
set(CPACK_PACKAGE_CONTACT ${GREETING_MAINTAINER})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()
set(CPACK_STRIP_FILES ON)
# Beside each package, PACKAGE.sha256, to check a download against.
set(CPACK_PACKAGE_CHECKSUM SHA256)
# The scripts below run with Debian's Python (GREETING_PYTHON).
set(CPACK_GREETING_PYTHON ${GREETING_PYTHON})
set(CPACK_GREETING_PROGRAM ${GREETING_INSTALLED_PROGRAM})

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

# The notices and bill of materials of what is linked into greeting
# (install.cmake says where they go) are written from the linker's map of
# the link, when the package is packed (cpack_third_party.cmake).
if(GREETING_THIRD_PARTY_NOTICES)
  set(CPACK_GREETING_LINK_MAP ${PROJECT_BINARY_DIR}/greeting.map)
  target_link_options(greeting PRIVATE LINKER:-Map=${CPACK_GREETING_LINK_MAP})
  set(CPACK_GREETING_NOTICES ${GREETING_INSTALLED_NOTICES})
  set(CPACK_GREETING_BOM ${GREETING_INSTALLED_BOM})
  set(CPACK_GREETING_LICENCE ${GREETING_LICENCE})
  set(CPACK_GREETING_CRLF ${WIN32})
  list(APPEND CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_third_party.cmake)
endif()

# greeting's container image, of the static program, its licence, the
# notices and the bill (not the manual page: no man in an image FROM
# scratch), made by cpack_oci_image.cmake of what cpack stages for its
# External generator.
option(GREETING_OCI_IMAGE "Pack greeting as a container image (cpack -G External), and test it as such" OFF)
if(GREETING_OCI_IMAGE)
  if(NOT GREETING_STATIC OR NOT GREETING_THIRD_PARTY_NOTICES OR WIN32)
    message(FATAL_ERROR "greeting's container image holds the static program with its notices: "
      "it needs GREETING_STATIC and GREETING_THIRD_PARTY_NOTICES, on Linux")
  endif()
  set(GREETING_IMAGE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-oci)
  set(CPACK_GREETING_IMAGE_NAME ${GREETING_IMAGE_NAME})
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/cpack_oci_image.cmake)
  set(CPACK_GREETING_IMAGE_FILES ${GREETING_INSTALLED_PROGRAM} ${GREETING_INSTALLED_DOCS})
  list(REMOVE_ITEM CPACK_GREETING_IMAGE_FILES ${GREETING_INSTALLED_MANUAL})
  set(CPACK_GREETING_SOURCE_DIR ${PROJECT_SOURCE_DIR})
  # The architecture as OCI names it, after Go.
  set(go_names x86_64=amd64 aarch64=arm64 riscv64=riscv64 s390x=s390x ppc64le=ppc64le)
  list(FILTER go_names INCLUDE REGEX "^${CMAKE_SYSTEM_PROCESSOR}=")
  string(REGEX REPLACE "^.*=" "" CPACK_GREETING_OCI_ARCH "${go_names}")
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

# Each file says what it does for reproducible packages.
set(CPACK_GREETING_RELEASE_EPOCH ${GREETING_RELEASE_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_package_config.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack_reproducible_archive.cmake)
include(CPack)
