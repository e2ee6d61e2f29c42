# Fails unless every GOT of a static ELF program lies inside GNU_RELRO: a
# slot writable for the whole run is a place to redirect a call.
# -D PROGRAM=... -D READELF=...
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${READELF} -W --segments --sections ${PROGRAM}
  OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)

string(REGEX MATCH "\n +GNU_RELRO +0x[0-9a-f]+ +0x([0-9a-f]+) +0x[0-9a-f]+ +0x[0-9a-f]+ +0x([0-9a-f]+)" _ "${headers}")
if(NOT CMAKE_MATCH_0)
  message(FATAL_ERROR "${PROGRAM} has no GNU_RELRO segment")
endif()
math(EXPR relro_start "0x${CMAKE_MATCH_1}")
math(EXPR relro_end "0x${CMAKE_MATCH_1} + 0x${CMAKE_MATCH_2}")

# Section rows: [Nr] Name Type Address Off Size ...
string(REGEX MATCHALL " \\.got(\\.plt)? +[A-Z_]+ +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+" gots "${headers}")
if(NOT gots)
  message(FATAL_ERROR "${PROGRAM} has no GOT at all: is this the static program?\n${headers}")
endif()
set(outside "")
foreach(got IN LISTS gots)
  string(REGEX MATCH "(\\.got[.a-z]*) +[A-Z_]+ +([0-9a-f]+) +[0-9a-f]+ +([0-9a-f]+)" _ "${got}")
  set(name ${CMAKE_MATCH_1})
  math(EXPR start "0x${CMAKE_MATCH_2}")
  math(EXPR end "0x${CMAKE_MATCH_2} + 0x${CMAKE_MATCH_3}")
  if(start LESS relro_start OR end GREATER relro_end)
    foreach(address start end relro_start relro_end)
      math(EXPR ${address} "${${address}}" OUTPUT_FORMAT HEXADECIMAL)
    endforeach()
    string(APPEND outside "  ${name} [${start}, ${end}) is not within GNU_RELRO [${relro_start}, ${relro_end})\n")
  endif()
endforeach()
if(outside)
  message(FATAL_ERROR "${PROGRAM} keeps writable GOT slots for its whole run:\n${outside}")
endif()
