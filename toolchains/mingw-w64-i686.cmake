# Cross-builds the 32-bit x86 Windows executable with MinGW-w64, and runs it
# under 32-bit Wine (.ci/setup windows-x86 sets a machine up for it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(GREETING_CROSS_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian installs the 32-bit Wine loader off PATH.
set(GREETING_EMULATOR_USES wine32 wine32-preloader)
set(GREETING_EMULATOR_KIND wine)
find_program(WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GREETING_WINE_RUN} --win32 ${WINE32})
endif()
