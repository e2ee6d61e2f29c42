# Builds with Clang (Debian: clang) for this machine; GREETING_CXX_STDLIB
# picks its C++ library.
include(${CMAKE_CURRENT_LIST_DIR}/find_required.cmake)
greeting_find_required(CMAKE_CXX_COMPILER clang++ PACKAGES clang)
