# greeting_add_package_test(GENERATOR... PROGRAM path FILES path...)
# Adds package.contents: cpack makes each package, which must hold exactly
# PROGRAM, stripped, and FILES, relative to the install prefix.
function(greeting_add_package_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "PROGRAM" "FILES")
  list(JOIN arg_UNPARSED_ARGUMENTS "$<SEMICOLON>" generators)
  list(JOIN arg_FILES "$<SEMICOLON>" files)
  add_test(NAME package.contents
    COMMAND ${CMAKE_COMMAND} -D CPACK=${CMAKE_CPACK_COMMAND} -D CONFIG=$<CONFIG>
            -D CONFIG_FILE=${PROJECT_BINARY_DIR}/CPackConfig.cmake
            -D SCRATCH=${CMAKE_CURRENT_BINARY_DIR}/package-test -D OBJDUMP=${CMAKE_OBJDUMP}
            "-D GENERATORS=${generators}" -D PROGRAM=${arg_PROGRAM} "-D FILES=${files}"
            -D DYNAMIC=$<NOT:$<BOOL:${GREETING_STATIC}>> -D READELF=$<$<STREQUAL:${CMAKE_EXECUTABLE_FORMAT},ELF>:${CMAKE_READELF}>
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_package.cmake)
endfunction()
