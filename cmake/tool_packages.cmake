# The one reader of debian-packages.txt, the list of what greeting's build,
# tests and gates take from Debian 12 and the npm registry: which packages
# provide a tool, which a preset or gate needs, and how to install them.
#
# greeting_packages(<variable> FOR <use>... | NEEDED_BY <name>...)
#   The rows that provide those uses, or that those presets and gates need
#   (with "all": every row; the README's own rows always), each as
#   "KIND;PACKAGE;INTEGRITY" joined by "|": KIND is apt, i386 (a 32-bit
#   package, for 32-bit Wine) or npm (a package from the npm registry, with
#   the registry's integrity of its tarball).
# greeting_install_hint(<variable> <use>...)
#   How to install what provides each use, as a missing-tool message says it.
# greeting_find_required(<variable> <program>...)
#   find_program(<variable> NAMES <program>...); where none is installed,
#   stops as greeting_stop_missing does.
# greeting_stop_missing(<what> <use>...)
#   Stops with one line that says <what> is not installed, and how to
#   install what provides each use.
#
# For scripts, one row a line, "KIND PACKAGE [INTEGRITY]", or the hint:
#   cmake -P tool_packages.cmake needed-by <name>...
#   cmake -P tool_packages.cmake for <use>...
#   cmake -P tool_packages.cmake hint <use>...
cmake_policy(VERSION 3.25)

function(greeting_packages variable how)
  file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/debian-packages.txt rows REGEX "^[^#]")
  set(found "")
  foreach(row IN LISTS rows)
    string(REGEX MATCH "^([^ ]+) +([^ ]+) +([^ ]+) *([^ ]*)$" _ "${row}")
    set(package ${CMAKE_MATCH_1})
    set(integrity ${CMAKE_MATCH_4})
    string(REPLACE "," ";" uses "${CMAKE_MATCH_2}")
    string(REPLACE "," ";" needed_by "${CMAKE_MATCH_3}")
    set(wanted FALSE)
    foreach(name IN LISTS ARGN)
      if((how STREQUAL "FOR" AND name IN_LIST uses) OR (how STREQUAL "NEEDED_BY" AND
         (name IN_LIST needed_by OR name STREQUAL "all" OR "all" IN_LIST needed_by)))
        set(wanted TRUE)
      endif()
    endforeach()
    if(how STREQUAL "NEEDED_BY" AND NOT ARGN)
      set(wanted TRUE)
    endif()
    if(NOT wanted)
      continue()
    elseif(package MATCHES "^npm:(.+)$")
      set(package ${CMAKE_MATCH_1})
      list(APPEND found "npm|${package}|${integrity}")
    elseif(package MATCHES ":i386$")
      list(APPEND found "i386|${package}|")
    else()
      list(APPEND found "apt|${package}|")
    endif()
    # The first preset or gate that needs it, for the hint to name.
    list(GET needed_by 0 first_needer)
    set(needer_${package} ${first_needer} PARENT_SCOPE)
  endforeach()
  list(REMOVE_DUPLICATES found)
  set(${variable} "${found}" PARENT_SCOPE)
endfunction()

function(greeting_install_hint variable)
  greeting_packages(rows FOR ${ARGN})
  set(apt "")
  set(npm "")
  set(i386 "")
  foreach(row IN LISTS rows)
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 kind)
    list(GET row 1 package)
    list(APPEND ${kind} ${package})
    if(kind STREQUAL "npm")
      set(npm_setup ${needer_${package}})
    endif()
  endforeach()
  set(ways "")
  if(apt)
    list(JOIN apt " " packages)
    list(APPEND ways "Debian: apt-get install ${packages}")
  endif()
  if(i386)
    list(APPEND ways "32-bit Wine: sudo .ci/setup windows-x86")
  endif()
  if(npm)
    list(JOIN npm " " packages)
    list(APPEND ways "npm registry: ${packages}, which sudo .ci/setup ${npm_setup} fetches")
  endif()
  if(NOT ways)
    set(ways "no package of it is listed in cmake/debian-packages.txt")
  endif()
  list(JOIN ways "; " ways)
  set(${variable} "${ways}" PARENT_SCOPE)
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
  # Stopped in a toolchain file, before CMake has looked for its build
  # program, CMake would go on to say that there is none; so it is looked
  # for here, by the names CMake itself looks for.
  if(NOT CMAKE_MAKE_PROGRAM AND CMAKE_GENERATOR MATCHES "Ninja")
    find_program(CMAKE_MAKE_PROGRAM NAMES ninja-build ninja samu)
  elseif(NOT CMAKE_MAKE_PROGRAM AND CMAKE_GENERATOR MATCHES "Makefiles")
    find_program(CMAKE_MAKE_PROGRAM NAMES gmake make)
  endif()
  # Indented, CMake leaves the line unwrapped.
  message(FATAL_ERROR "  ${what} is not installed (${hint})")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(arguments "")
  foreach(argument RANGE 4 ${CMAKE_ARGC})
    if(argument LESS CMAKE_ARGC)
      list(APPEND arguments "${CMAKE_ARGV${argument}}")
    endif()
  endforeach()
  if(CMAKE_ARGV3 STREQUAL "hint")
    greeting_install_hint(hint ${arguments})
    set(lines "${hint}")
  elseif(CMAKE_ARGV3 MATCHES "^(needed-by|for)$")
    string(TOUPPER "${CMAKE_ARGV3}" how)
    string(REPLACE "-" "_" how "${how}")
    greeting_packages(rows ${how} ${arguments})
    list(TRANSFORM rows REPLACE "\\|" " ")
    list(TRANSFORM rows STRIP)
    list(JOIN rows "\n" lines)
  else()
    message(FATAL_ERROR "usage: cmake -P tool_packages.cmake needed-by|for|hint NAME...")
  endif()
  # On standard output, where message() would write to standard error.
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${lines}")
endif()
