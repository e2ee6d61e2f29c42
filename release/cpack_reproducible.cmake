# Read by cpack once it has made its packages: makes the archives the same
# whoever packs them, and wherever (reproducible_archive.py says how); and
# takes away the description of the staged files that the External
# generator leaves beside the container image as if it were a package.
cmake_policy(VERSION 3.25)
set(archives ${CPACK_PACKAGE_FILES})
list(FILTER archives INCLUDE REGEX "\\.(tar\\.gz|zip|deb)$")
if(archives)
  execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/reproducible_archive.py ${archives}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
set(descriptions ${CPACK_PACKAGE_FILES})
list(FILTER descriptions INCLUDE REGEX "\\.json$")
foreach(description IN LISTS descriptions)
  file(REMOVE "${description}" "${description}.sha256")
endforeach()
