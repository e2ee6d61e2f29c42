# Read by cpack once it has made its packages: makes the archives the same
# whoever packs them, and wherever (reproducible_archive.py says how).
cmake_policy(VERSION 3.25)
set(archives ${CPACK_PACKAGE_FILES})
list(FILTER archives INCLUDE REGEX "\\.(tar\\.gz|zip|deb)$")
if(archives)
  execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/reproducible_archive.py ${archives}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
