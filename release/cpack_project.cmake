# Read by cpack for each package: files carry the release date unless
# SOURCE_DATE_EPOCH is set. The External generator's account of what it
# staged, which it leaves beside the image, is named for what it is.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_GREETING_RELEASE_EPOCH})
endif()
if(CPACK_GENERATOR STREQUAL "External")
  set(CPACK_PACKAGE_FILE_NAME cpack-external-staged-files)
endif()
