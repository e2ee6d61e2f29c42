# What the MinGW-w64 toolchain files share.
set(CMAKE_CXX_COMPILER ${GREETING_CROSS_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${GREETING_CROSS_TRIPLE}-windres)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
