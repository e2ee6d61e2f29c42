# Cross-builds the 32-bit x86 Windows executable with MinGW-w64
# (Debian: g++-mingw-w64-i686), and runs it under 32-bit Wine (Debian:
# wine32:i386; .ci/prepare-wine32 sets a machine up for it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(GREETING_CROSS_TRIPLE i686-w64-mingw32)
set(GREETING_MINGW_PACKAGE mingw-w64-i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian installs the 32-bit Wine loader off PATH.
set(GREETING_EMULATOR_PACKAGES "wine32:i386 wine32-preloader:i386 (sudo .ci/prepare-wine32 sets them up)")
find_program(WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GREETING_WINE_RUN} --win32 ${WINE32})
endif()
