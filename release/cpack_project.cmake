# Read by cpack for each package it makes. Unless SOURCE_DATE_EPOCH is set,
# the files in a package carry the release's date rather than the time of
# the build, so that the same sources give the same package. The External
# generator, which makes the container image (cpack_image.cmake names it),
# also leaves beside it its description of the staged files, with their
# paths, as if it were a package: it is named for what it is.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_GREETING_RELEASE_EPOCH})
endif()
if(CPACK_GENERATOR STREQUAL "External")
  set(CPACK_PACKAGE_FILE_NAME cpack-external-staged-files)
endif()
