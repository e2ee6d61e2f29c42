# What the MinGW-w64 toolchain files share.
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
greeting_find_required(CMAKE_CXX_COMPILER ${GREETING_CROSS_TRIPLE}-g++)
greeting_find_required(CMAKE_RC_COMPILER ${GREETING_CROSS_TRIPLE}-windres)
# Wine runs greeting only through this runner (it says why).
get_filename_component(GREETING_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../tests/runners/wine_run.py ABSOLUTE)
