# What the MinGW-w64 toolchain files share. GREETING_MINGW_PACKAGE names
# Debian's cross compiler.
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
greeting_find_required(CMAKE_CXX_COMPILER ${GREETING_CROSS_TRIPLE}-g++ PACKAGES g++-${GREETING_MINGW_PACKAGE})
greeting_find_required(CMAKE_RC_COMPILER ${GREETING_CROSS_TRIPLE}-windres PACKAGES binutils-${GREETING_MINGW_PACKAGE})
# Wine runs greeting only through this runner, which keeps Wine's own
# messages off greeting's standard error and retries a start that hangs.
get_filename_component(GREETING_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../tests/wine_run.py ABSOLUTE)
