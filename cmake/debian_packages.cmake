# The Debian packages that provide what greeting's build, tests and gates
# use, looked up in debian-packages.txt, the one list of them.
#
# greeting_install_hint(<variable> <use>...)
#   How to install what provides each use, as a missing-tool message says it:
#   "Debian: apt-get install PACKAGE...".
# greeting_find_required(<variable> <program>...)
#   find_program(<variable> NAMES <program>...); where none is installed,
#   stops as greeting_stop_missing does.
# greeting_stop_missing(<what> <use>...)
#   stops with one line that says <what> is not installed, and how to
#   install what provides each use.
# cmake -P debian_packages.cmake <use>...
#   prints the hint, for scripts.
cmake_policy(VERSION 3.25)

function(greeting_install_hint variable)
  file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/debian-packages.txt rows REGEX "^[^#]")
  set(apt "")
  set(npm "")
  set(wine "")
  foreach(row IN LISTS rows)
    string(REGEX MATCH "^([^ ]+) +([^ ]+)" _ "${row}")
    set(package ${CMAKE_MATCH_1})
    string(REPLACE "," ";" uses "${CMAKE_MATCH_2}")
    foreach(use IN LISTS ARGN)
      if(use IN_LIST uses)
        if(package MATCHES "^npm:(.*)")
          list(APPEND npm ${CMAKE_MATCH_1})
        elseif(package MATCHES ":i386$")
          list(APPEND wine ${package})
        else()
          list(APPEND apt ${package})
        endif()
      endif()
    endforeach()
  endforeach()
  set(ways "")
  foreach(way_and_packages "apt-get install;apt" "npm install -g;npm" "sudo .ci/prepare-wine32 installs;wine")
    list(GET way_and_packages 1 kind)
    if(${kind})
      list(REMOVE_DUPLICATES ${kind})
      list(GET way_and_packages 0 way)
      list(JOIN ${kind} " " packages)
      list(APPEND ways "${way} ${packages}")
    endif()
  endforeach()
  if(NOT ways)
    set(ways "no package of it is listed in cmake/debian-packages.txt")
  endif()
  list(JOIN ways "; " ways)
  set(${variable} "Debian: ${ways}" PARENT_SCOPE)
endfunction()

function(greeting_find_required variable)
  find_program(${variable} NAMES ${ARGN})
  if(NOT ${variable})
    list(JOIN ARGN " or " names)
    greeting_stop_missing("${names}" ${ARGN})
  endif()
endfunction()

function(greeting_stop_missing what)
  greeting_install_hint(hint ${ARGN})
  # Stopped in a toolchain file, CMake would go on to say that it found no
  # build program, which is not so: it had not looked for one yet.
  if(NOT CMAKE_MAKE_PROGRAM AND CMAKE_GENERATOR MATCHES "Ninja")
    include(CMakeNinjaFindMake)
  elseif(NOT CMAKE_MAKE_PROGRAM AND CMAKE_GENERATOR MATCHES "Makefiles")
    include(CMakeUnixFindMake)
  endif()
  # Indented, CMake leaves the line unwrapped.
  message(FATAL_ERROR "  ${what} is not installed (${hint})")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(uses "")
  foreach(argument RANGE 3 ${CMAKE_ARGC})
    if(argument LESS CMAKE_ARGC)
      list(APPEND uses "${CMAKE_ARGV${argument}}")
    endif()
  endforeach()
  greeting_install_hint(hint ${uses})
  message("${hint}")
endif()
