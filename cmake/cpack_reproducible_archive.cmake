# Read by cpack once it has made its packages: makes the archives the same
# whoever packs them, and wherever (reproducible_archive.py says how).
cmake_policy(VERSION 3.25)
set(archives ${CPACK_PACKAGE_FILES})
list(FILTER archives INCLUDE REGEX "\\.(tar\\.gz|zip|deb)$")
if(archives)
  find_program(GREETING_PYTHON3 python3)
  if(NOT GREETING_PYTHON3)
    message(FATAL_ERROR "  packing a release archive needs python3, which is not installed (Debian: apt-get install python3)")
  endif()
  execute_process(COMMAND ${GREETING_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/reproducible_archive.py ${archives}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
