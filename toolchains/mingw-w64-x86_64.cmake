# Cross-builds the 64-bit Windows executable with MinGW-w64, and runs it
# under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(GREETING_CROSS_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian installs the 64-bit Wine loader off PATH.
set(GREETING_EMULATOR_USES wine64)
set(GREETING_EMULATOR_KIND wine)
find_program(WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GREETING_WINE_RUN} ${WINE64})
endif()
