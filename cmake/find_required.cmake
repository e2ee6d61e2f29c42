# greeting_find_required(<variable> <program>... PACKAGES <package>...)
# Finds the first of the programs that is installed, as find_program does;
# where none is, stops with one line that names the Debian packages to
# install, where CMake itself would name none. (Indented, CMake leaves the
# line unwrapped.)
function(greeting_find_required variable)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PACKAGES")
  find_program(${variable} NAMES ${arg_UNPARSED_ARGUMENTS})
  if(NOT ${variable})
    list(JOIN arg_UNPARSED_ARGUMENTS " or " names)
    list(JOIN arg_PACKAGES " " packages)
    message(FATAL_ERROR "  ${names} is not installed (Debian: apt-get install ${packages})")
  endif()
endfunction()
