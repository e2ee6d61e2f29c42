# Builds greeting as a WebAssembly module for WASI with Debian's packages
# (clang, wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32,
# libclang-rt-14-dev-wasm32), and runs it under Node.js's WASI
# (wasi_run.mjs beside this file).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_EXECUTABLE_SUFFIX_CXX .wasm)
set(GREETING_CROSS_TRIPLE wasm32-wasi)

find_program(GREETING_WASI_CLANG NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_CXX_COMPILER ${GREETING_WASI_CLANG})
set(CMAKE_CXX_COMPILER_TARGET ${GREETING_CROSS_TRIPLE})

# Debian puts the target's headers beside the host's, not in a sysroot of
# their own, and clang would search the host's /usr/include behind them: a
# header the target lacks would quietly come from the host. Only the
# target's C++ and C headers are searched, then clang's own.
set(wasi_include /usr/include/${GREETING_CROSS_TRIPLE})
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -isystem ${wasi_include}/c++/v1 -isystem ${wasi_include}")

# clang runs binaryen's wasm-opt over the linked module whenever wasm-opt is
# on PATH and the link line carries an -O flag, so the same sources would
# give different modules on machines with and without binaryen. The
# optimisation flags stay on the compile line; the link line does without.
set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_CXX_COMPILER> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)

set(GREETING_EMULATOR_PACKAGES nodejs)
find_program(GREETING_NODE node)
if(GREETING_NODE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GREETING_NODE} --no-warnings ${CMAKE_CURRENT_LIST_DIR}/../tests/wasi_run.mjs)
endif()
