# Read by cpack's External generator once it has staged the install: packs
# each other platform's tree as its tarball, fetches the sources that go
# with each program (release_sources.py), and writes the image archive of
# them all (oci_image.py). A platform whose glibc source the mirror cannot
# give is left out, saying so: it must not ship without it.
cmake_policy(VERSION 3.25)
set(image "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_GREETING_IMAGE_NAME}.tar")
set(sources "${CPACK_TOPLEVEL_DIRECTORY}/sources")
file(REMOVE_RECURSE "${sources}")
file(MAKE_DIRECTORY "${sources}")
set(platforms ${CPACK_GREETING_IMAGE_PLATFORMS})
list(POP_FRONT platforms host)
set(roots "${host}=${CPACK_TEMPORARY_DIRECTORY}")
set(tarballs "")
foreach(platform root IN ZIP_LISTS CPACK_GREETING_IMAGE_PLATFORMS CPACK_GREETING_IMAGE_BUILDS)
  if(platform STREQUAL host)
    set(root "${CPACK_TEMPORARY_DIRECTORY}")
  else()
    file(REMOVE_RECURSE "${root}/packed")
    execute_process(COMMAND "${CPACK_GREETING_CPACK}" -G TGZ --config "${root}/CPackConfig.cmake" -B "${root}/packed"
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB root "${root}/packed/*.tar.gz")
  endif()
  execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/release_sources.py
                          "${CPACK_GREETING_FACTS}" "${sources}" "${root}"
    OUTPUT_QUIET ERROR_VARIABLE why RESULT_VARIABLE status)
  if(status EQUAL 3 AND NOT platform STREQUAL host)
    message(WARNING "${platform} is left out of the image and the release: ${why}")
  elseif(status)
    message(FATAL_ERROR "${why}")
  elseif(NOT platform STREQUAL host)
    list(APPEND roots "${platform}=${root}")
    list(APPEND tarballs "${root}")
  endif()
endforeach()
execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/oci_image.py "${CPACK_GREETING_FACTS}"
                        "${image}" "${sources}" ${roots}
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES "${image}" ${tarballs})
