# Read by cpack for each package it makes. Unless SOURCE_DATE_EPOCH is set,
# the files in a package carry the release's date rather than the time of
# the build, so that the same sources give the same package. The container
# image (the External generator's package) is named for what it is.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_GREETING_RELEASE_EPOCH})
endif()
if(CPACK_GENERATOR STREQUAL "External")
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_GREETING_IMAGE_NAME})
endif()
