# Cross-builds greeting, statically, with Debian's GNU cross compiler for
# GREETING_CROSS_TRIPLE (aarch64-linux-gnu, say), run under QEMU.
set(CMAKE_SYSTEM_NAME Linux)
# try_compile runs this file again, and needs the triple as well.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GREETING_CROSS_TRIPLE)
if(NOT GREETING_CROSS_TRIPLE)
  message(FATAL_ERROR "set GREETING_CROSS_TRIPLE to a Debian cross compiler's triple, such as aarch64-linux-gnu")
endif()
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${GREETING_CROSS_TRIPLE}")

include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
greeting_find_required(CMAKE_CXX_COMPILER ${GREETING_CROSS_TRIPLE}-g++)
# Debian's own glibc for the target (libc6-dev:ARCH), where installed, is
# the host's version, whose source the mirror keeps and the release carries
# once for all: linked rather than the cross toolchain's.
if(EXISTS /usr/lib/${GREETING_CROSS_TRIPLE}/libc.a)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -B/usr/lib/${GREETING_CROSS_TRIPLE}/ -L/usr/lib/${GREETING_CROSS_TRIPLE}")
endif()

# QEMU names some architectures its own way.
set(qemu_arch ${CMAKE_SYSTEM_PROCESSOR})
if(qemu_arch STREQUAL "powerpc64le")
  set(qemu_arch ppc64le)
endif()
set(GREETING_EMULATOR_USES qemu)
set(GREETING_EMULATOR_KIND qemu)
find_program(GREETING_QEMU qemu-${qemu_arch})
if(GREETING_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GREETING_QEMU})
endif()
