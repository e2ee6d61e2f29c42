# Builds greeting as a WebAssembly module for WASI with Debian's packages,
# and runs it under Node.js's WASI (tests/runners/wasi_run.mjs).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_EXECUTABLE_SUFFIX_CXX .wasm)
set(GREETING_CROSS_TRIPLE wasm32-wasi)

include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
greeting_find_required(CMAKE_CXX_COMPILER clang++-14 clang++)
set(CMAKE_CXX_COMPILER_TARGET ${GREETING_CROSS_TRIPLE})
# LLVM's linker and nm: binutils' cannot read WebAssembly.
greeting_find_required(GREETING_WASM_LD wasm-ld-14 wasm-ld)
set(CMAKE_EXE_LINKER_FLAGS_INIT --ld-path=${GREETING_WASM_LD})
greeting_find_required(CMAKE_NM llvm-nm-14 llvm-nm)
# The target's libraries, each from its own package.
foreach(query_and_use -print-file-name=libc.a=wasi-libc -print-file-name=libc++.a=wasi-libc++
    -print-file-name=libc++abi.a=wasi-libc++abi -print-libgcc-file-name=wasi-builtins)
  string(REGEX MATCH "^(.*)=([^=]+)$" _ ${query_and_use})
  set(use ${CMAKE_MATCH_2})
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} --target=${GREETING_CROSS_TRIPLE} ${CMAKE_MATCH_1}
    OUTPUT_VARIABLE library OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${library}")
    greeting_stop_missing("${library} for ${GREETING_CROSS_TRIPLE}" ${use})
  endif()
endforeach()

# Debian puts the target's headers beside the host's, which clang would
# search behind them: only the target's, then clang's own, are searched.
set(wasi_include /usr/include/${GREETING_CROSS_TRIPLE})
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -isystem ${wasi_include}/c++/v1 -isystem ${wasi_include}")

# clang runs binaryen's wasm-opt, where installed, on a link line with -O:
# the link line does without, so every machine links the same module.
set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_CXX_COMPILER> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

set(GREETING_EMULATOR_USES node)
set(GREETING_EMULATOR_KIND node)
find_program(GREETING_NODE node)
if(GREETING_NODE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GREETING_NODE} --no-warnings ${CMAKE_CURRENT_LIST_DIR}/../tests/runners/wasi_run.mjs)
endif()
