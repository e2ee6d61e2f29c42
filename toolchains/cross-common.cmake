# What every cross toolchain file shares: GREETING_CROSS_TRIPLE names the
# target as Debian's cross packages do; libraries and headers come from the
# target's, programs from the host's. Each file names what provides its
# emulator (GREETING_EMULATOR_USES, as tool-packages.txt says) and which it
# is (GREETING_EMULATOR_KIND: qemu, wine, node).
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/tool_packages.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/${GREETING_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
