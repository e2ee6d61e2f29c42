# Cross-builds greeting for Linux on another architecture with Debian's GNU
# cross compilers, and runs the result under QEMU's user-mode emulator.
# GREETING_CROSS_TRIPLE names the target, such as aarch64-linux-gnu.
# greeting links statically there, so the emulator needs no libraries of the
# target's.
set(CMAKE_SYSTEM_NAME Linux)
# try_compile runs this file again, and needs the triple as well.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GREETING_CROSS_TRIPLE)
if(NOT GREETING_CROSS_TRIPLE)
  message(FATAL_ERROR "set GREETING_CROSS_TRIPLE to a Debian cross compiler's triple, such as aarch64-linux-gnu")
endif()
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${GREETING_CROSS_TRIPLE}")

include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
greeting_find_required(CMAKE_CXX_COMPILER ${GREETING_CROSS_TRIPLE}-g++)
# Where Debian's own glibc for the target is installed (libc6-dev:ARCH, by
# multiarch), greeting links it rather than the cross toolchain's copy: it
# is the host's version, whose source Debian's mirror keeps, and which then
# goes with the program's release once for all.
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
