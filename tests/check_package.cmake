# Builds packages and checks that each holds exactly the files an install
# makes, at the places GNUInstallDirs gives, with the program stripped of its
# debugging information and linked as the build says.
# -D CPACK=... -D CONFIG_FILE=CPackConfig.cmake -D CONFIG=... -D SCRATCH=... -D OBJDUMP=...
# -D GENERATORS=DEB;TGZ -D PROGRAM=bin/greeting -D FILES=share/doc/greeting/LICENSE;...
# [-D READELF=...]  the program is an ELF one, whose linking is then checked
# [-D DYNAMIC=ON]  the program is linked dynamically and position-independent,
#                  and a Debian package declares its dependency on the C
#                  library; otherwise it is static, needing no loader at all
cmake_minimum_required(VERSION 3.25)
set(expected ${PROGRAM} ${FILES})
list(TRANSFORM expected REPLACE "^\\./" "")
list(SORT expected)

file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CPACK} -G "${GENERATORS}" -C "${CONFIG}" --config "${CONFIG_FILE}" -B "${SCRATCH}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

set(failures "")
foreach(generator IN LISTS GENERATORS)
  set(unpacked "${SCRATCH}/${generator}")
  if(generator STREQUAL "DEB")
    file(GLOB package "${SCRATCH}/*.deb")
    execute_process(COMMAND dpkg-deb --extract ${package} "${unpacked}" COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-deb --field ${package} Depends OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
    if(DYNAMIC AND NOT depends MATCHES "(^|, )libc6 ")
      string(APPEND failures "  ${package} declares no dependency on libc6: Depends: '${depends}'\n")
    elseif(NOT DYNAMIC AND depends)
      string(APPEND failures "  ${package} is static, yet declares dependencies: '${depends}'\n")
    endif()
    set(root "${unpacked}/usr")
  else()
    file(GLOB package "${SCRATCH}/*.tar.gz" "${SCRATCH}/*.zip")
    file(MAKE_DIRECTORY "${unpacked}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${package} WORKING_DIRECTORY "${unpacked}"
      COMMAND_ERROR_IS_FATAL ANY)
    # The archives hold one directory named after the package.
    file(GLOB root "${unpacked}/*")
  endif()
  file(GLOB_RECURSE found RELATIVE "${root}" "${root}/*")
  list(SORT found)
  if(NOT found STREQUAL expected)
    string(APPEND failures "  ${package} holds:\n    ${found}\n  wanted:\n    ${expected}\n")
  endif()
  execute_process(COMMAND ${OBJDUMP} --section-headers "${root}/${PROGRAM}" OUTPUT_VARIABLE sections
    COMMAND_ERROR_IS_FATAL ANY)
  if(sections MATCHES " \\.debug_")
    string(APPEND failures "  ${package}: ${PROGRAM} is not stripped:\n${sections}\n")
  endif()
  if(READELF)
    execute_process(COMMAND ${READELF} --file-header --program-headers --dynamic "${root}/${PROGRAM}"
      OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCH "Type: +([A-Z]+)" _ "${headers}")
    set(linking "type ${CMAKE_MATCH_1}")
    foreach(part "program interpreter" "Dynamic section")
      if(headers MATCHES "${part}")
        string(APPEND linking ", ${part}")
      endif()
    endforeach()
    if(DYNAMIC)
      set(wanted "type DYN, program interpreter, Dynamic section")
    else()
      set(wanted "type EXEC")
    endif()
    if(NOT linking STREQUAL wanted)
      string(APPEND failures "  ${package}: ${PROGRAM} has ${linking}; wanted ${wanted}\n")
    endif()
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
