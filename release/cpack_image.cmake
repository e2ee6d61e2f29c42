# Read by cpack's External generator once it has staged, stripped, the
# install with its notices and bill (cpack_pre_build.cmake): packs each
# other platform's build tree (release/CMakeLists.txt builds them) as its
# static tarball, has release_sources.py fetch the Debian source packages
# that go with the programs, and oci_image.py write the image archive of
# them all. The tarballs ship beside the image. Every time in them is
# SOURCE_DATE_EPOCH, which cpack_project.cmake sets.
cmake_policy(VERSION 3.25)
set(image "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.tar")
set(platforms ${CPACK_GREETING_IMAGE_PLATFORMS})
list(POP_FRONT platforms host)
set(roots "${host}=${CPACK_TEMPORARY_DIRECTORY}")
set(tarballs "")
foreach(platform build IN ZIP_LISTS platforms CPACK_GREETING_IMAGE_BUILDS)
  file(REMOVE_RECURSE "${build}/packed")
  execute_process(COMMAND "${CPACK_GREETING_CPACK}" -G TGZ --config "${build}/CPackConfig.cmake" -B "${build}/packed"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB tarball "${build}/packed/*.tar.gz")
  list(APPEND roots "${platform}=${tarball}")
  list(APPEND tarballs "${tarball}")
endforeach()
set(sources "${CPACK_TOPLEVEL_DIRECTORY}/sources")
file(REMOVE_RECURSE "${sources}")
file(MAKE_DIRECTORY "${sources}")
execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/release_sources.py "${CPACK_GREETING_FACTS}"
                        "${sources}" "${CPACK_TEMPORARY_DIRECTORY}" ${tarballs}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CPACK_GREETING_PYTHON} -B ${CMAKE_CURRENT_LIST_DIR}/oci_image.py "${CPACK_GREETING_FACTS}"
                        "${image}" "${sources}" ${roots}
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES "${image}" ${tarballs})
