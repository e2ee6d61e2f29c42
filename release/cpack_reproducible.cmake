# Read by cpack once it has made its packages: makes them the same whoever
# packs them, and wherever. CPack, as CMake 3.25 has it, writes into a
# .tar.gz's and a .zip's entries the packer's ids and the modes its umask
# left, in the order the file system lists them, a .zip entry's DOS date in
# the packer's time zone; and it counts directories, whose sizes differ
# between file systems, into a .deb's Installed-Size. So each is unpacked,
# given modes 644 (755 for a directory or what anyone may run), and packed
# again by the tool that packs the same files the same way: GNU tar in name
# order, every entry root's; zip in name order, without the ids and with
# dates in UTC; dpkg-deb, with Installed-Size counted as dpkg-gencontrol
# counts it. CMake 4.3 gives archive entries to root itself (CMP0206); the
# rest can go when the oldest CMake greeting takes does it, as
# .ci/reproducible then shows.
cmake_policy(VERSION 3.25)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.(tar\\.gz|zip|deb)$")
    continue()
  endif()
  set(files ${package}.unpacked)
  file(REMOVE_RECURSE ${files})
  file(MAKE_DIRECTORY ${files})
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND dpkg-deb --raw-extract ${package} ${files} COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.zip$")
    execute_process(COMMAND ${CPACK_GREETING_UNZIP} -q ${package} -d ${files} COMMAND_ERROR_IS_FATAL ANY)
  else()
    execute_process(COMMAND tar -xzf ${package} -C ${files} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  execute_process(COMMAND chmod -R u=rwX,go=rX ${files} COMMAND_ERROR_IS_FATAL ANY)
  # A directory the archive holds no entry for, as CPack's archives have none
  # for the package's own, takes the packing time when unpacked.
  execute_process(COMMAND find ${files} -mindepth 1 -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${package})
  if(package MATCHES "\\.deb$")
    # A KiB a file, rounded up, and one a directory.
    file(GLOB_RECURSE installed LIST_DIRECTORIES true RELATIVE ${files} ${files}/*)
    list(FILTER installed EXCLUDE REGEX "^DEBIAN(/|$)")
    set(kib 0)
    foreach(path IN LISTS installed)
      set(size 1)
      if(NOT IS_DIRECTORY ${files}/${path})
        file(SIZE ${files}/${path} size)
        math(EXPR size "(${size} + 1023) / 1024")
      endif()
      math(EXPR kib "${kib} + ${size}")
    endforeach()
    file(READ ${files}/DEBIAN/control control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+" "\nInstalled-Size: ${kib}" control "${control}")
    file(WRITE ${files}/DEBIAN/control "${control}")
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${files} ${package} OUTPUT_QUIET
      COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.zip$")
    file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${files} ${files}/*)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${CPACK_GREETING_ZIP} -X -D -9 -q ${package} ${entries}
      WORKING_DIRECTORY ${files} COMMAND_ERROR_IS_FATAL ANY)
  else()
    file(GLOB top RELATIVE ${files} ${files}/*)
    execute_process(COMMAND tar -cf - --sort=name --format=ustar --owner=root:0 --group=root:0 -C ${files} ${top}
      COMMAND gzip -9 -n OUTPUT_FILE ${package} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${files})
endforeach()
