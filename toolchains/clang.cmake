# Builds with Clang for this machine; GREETING_CXX_STDLIB picks its C++
# library.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/tool_packages.cmake)
greeting_find_required(CMAKE_CXX_COMPILER clang++)
