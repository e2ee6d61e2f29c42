# What every cross toolchain file shares. GREETING_CROSS_TRIPLE names the
# target as Debian's cross packages do (aarch64-linux-gnu, i686-w64-mingw32,
# wasm32-wasi); libraries and headers are looked for among the target's
# only, programs among the host's. Each toolchain file also names, in
# GREETING_EMULATOR_USES, what provides the emulator it sets as
# CMAKE_CROSSCOMPILING_EMULATOR (as cmake/tool-packages.txt calls it), for
# the tests to say how to install it where it is missing, and, in
# GREETING_EMULATOR_KIND, which emulator it is (qemu, wine, node), for the
# table's cases that one of them changes.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/tool_packages.cmake)
set(CMAKE_FIND_ROOT_PATH /usr/${GREETING_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
