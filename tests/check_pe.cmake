# Packs the release zip and checks the executable in it, as it ships: its
# headers, imports, version resource and embedded manifest.
# -D CPACK=... -D CONFIG_FILE=CPackConfig.cmake -D CONFIG=... -D SCRATCH=...
# -D OBJDUMP=... -D WINDRES=...
# -D FORMAT=pei-i386|pei-x86-64 -D MAGIC=PE32|PE32+
# -D FLAGS=DYNAMIC_BASE;...  the DllCharacteristics flags, exactly
# -D IMPORTS=windows-x86.imports  every DLL!function it may import, exactly
# -D VERSION=1.2.3 -D COPYRIGHT="Copyright (c) ..." -D RELEASE_EPOCH=...
# -D MANIFEST=greeting.manifest  the manifest the executable must carry
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CPACK} -G ZIP -C "${CONFIG}" --config "${CONFIG_FILE}" -B "${SCRATCH}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB package "${SCRATCH}/*.zip")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${package} WORKING_DIRECTORY "${SCRATCH}" COMMAND_ERROR_IS_FATAL ANY)
file(GLOB program "${SCRATCH}/*/greeting.exe")

set(failures "")
function(expect_equal what found wanted)
  if(NOT found STREQUAL wanted)
    set(failures "${failures}  ${what}: wanted '${wanted}', found '${found}'\n" PARENT_SCOPE)
  endif()
endfunction()

set(ENV{TZ} UTC)  # objdump shows the link time in local time
execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "file format ([^\n]+)" _ "${headers}")
expect_equal("file format" "${CMAKE_MATCH_1}" "${FORMAT}")
string(REGEX MATCH "Magic[\t ]+[0-9a-f]+[\t ]+\\(([^)]+)\\)" _ "${headers}")
expect_equal("magic" "${CMAKE_MATCH_1}" "${MAGIC}")
# The linker writes no time; stripping for the zip writes the packages'
# date, so that the same sources give the same zip.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(RELEASE_EPOCH $ENV{SOURCE_DATE_EPOCH})
endif()
set(ENV{SOURCE_DATE_EPOCH} ${RELEASE_EPOCH})
string(TIMESTAMP release_time "%a %b %d %H:%M:%S %Y" UTC)
string(REGEX REPLACE " 0([1-9]) " "  \\1 " release_time "${release_time}")  # as objdump pads the day
string(REGEX MATCH "\nTime/Date[\t ]+([^\n]+)" _ "${headers}")
expect_equal("time stamp" "${CMAKE_MATCH_1}" "${release_time}")
string(REGEX MATCH "\nSubsystem[\t ]+[0-9a-f]+[\t ]+\\(([^)]+)\\)" _ "${headers}")
expect_equal("subsystem" "${CMAKE_MATCH_1}" "Windows CUI")
# Windows 6.0 or later.
foreach(field_and_value MajorSubsystemVersion=6 MinorSubsystemVersion=0 MajorOSystemVersion=6 MinorOSystemVersion=0)
  string(REPLACE "=" ";" field_and_value "${field_and_value}")
  list(GET field_and_value 0 field)
  list(GET field_and_value 1 wanted)
  string(REGEX MATCH "${field}[\t ]+([0-9]+)" _ "${headers}")
  expect_equal("${field}" "${CMAKE_MATCH_1}" "${wanted}")
endforeach()
# Address-space layout randomisation, no execution of data, no Terminal
# Server shims (and on x64 a high-entropy address space): all asked for.
string(REGEX MATCH "DllCharacteristics[\t ]+[0-9a-f]+\n((\t+[A-Z_]+\n)*)" _ "${headers}")
string(REGEX MATCHALL "[A-Z_]+" flags "${CMAKE_MATCH_1}")
list(SORT flags)
list(SORT FLAGS)
expect_equal("DllCharacteristics" "${flags}" "${FLAGS}")

# Imports: exactly the baseline's. The Windows loader refuses to start a
# program that imports a function its Windows lacks, and Wine has them all,
# so only this list holds greeting to Windows 6.0.
string(REGEX MATCH "Entry d ([0-9a-f]+ [0-9a-f]+) Delay Import Directory" _ "${headers}")
set(delay_imports "${CMAKE_MATCH_1}")
if(NOT delay_imports MATCHES "^0+ 0+$")
  string(APPEND failures "  delay-loads DLLs (delay import directory at ${delay_imports}), which no list holds\n")
endif()
string(REGEX MATCHALL "\tDLL Name: [^\n]+\n[^\n]*\n(\t[0-9a-f]+\t +[0-9]+ +[^\n]+\n)*" tables "${headers}")
set(imports "")
foreach(table IN LISTS tables)
  string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${table}")
  set(dll "${CMAKE_MATCH_1}")
  if(dll MATCHES "^[Aa][Pp][Ii]-[Mm][Ss]-[Ww][Ii][Nn]-")
    string(APPEND failures "  imports the API set ${dll}, which Windows 6.0 lacks\n")
  endif()
  string(REGEX MATCHALL "\t[0-9a-f]+\t +[0-9]+ +[^\n]+" functions "${table}")
  list(TRANSFORM functions REPLACE "^\t[0-9a-f]+\t +[0-9]+ +" "${dll}!")
  list(APPEND imports ${functions})
endforeach()
file(STRINGS "${IMPORTS}" baseline REGEX "^[^#]")
list(SORT imports)
list(SORT baseline)
set(added ${imports})
set(dropped ${baseline})
if(imports AND baseline)
  list(REMOVE_ITEM added ${baseline})
  list(REMOVE_ITEM dropped ${imports})
endif()
if(added)
  list(JOIN added "\n    " added)
  string(APPEND failures "  imports what ${IMPORTS} does not list:\n    ${added}\n"
    "  Check that each is in Windows 6.0 (Vista), the oldest Windows greeting runs on, "
    "before adding it to the list.\n")
endif()
if(dropped)
  list(JOIN dropped "\n    " dropped)
  string(APPEND failures "  no longer imports, so take out of ${IMPORTS}:\n    ${dropped}\n")
endif()

# Decompile the resources and read the version resource, the strings that
# Windows shows under the file's properties.
execute_process(COMMAND ${WINDRES} -i ${program} -O rc OUTPUT_VARIABLE resources COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH " FILEVERSION ([0-9, ]+)\n" _ "${resources}")
string(REPLACE "." ", " numeric_version "${VERSION}, 0")
expect_equal("FILEVERSION" "${CMAKE_MATCH_1}" "${numeric_version}")
foreach(name_and_value
    "FileVersion=${VERSION}" "ProductVersion=${VERSION}" "ProductName=greeting"
    "OriginalFilename=greeting.exe" "LegalCopyright=${COPYRIGHT}")
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${name_and_value}")
  set(name "${CMAKE_MATCH_1}")
  set(wanted "${CMAKE_MATCH_2}")
  string(REGEX MATCH "VALUE \"${name}\", \"([^\"]*)\"" _ "${resources}")
  expect_equal("version resource ${name}" "${CMAKE_MATCH_1}" "${wanted}")
endforeach()
if(NOT resources MATCHES "VALUE \"FileDescription\", \"[^\"]+\"")
  string(APPEND failures "  version resource: no FileDescription\n")
endif()

# The RT_MANIFEST (type 24) resource, id 1.
string(REGEX MATCH "\n1 24 [^\n]*\nBEGIN\n([^\n]+\n)*END" manifest "${resources}")
string(REPLACE "\"\"" "\"" manifest "${manifest}")
string(REGEX MATCH "<requestedExecutionLevel[^>]*>" element "${manifest}")
string(REGEX MATCH " level=\"([^\"]*)\"" _ "${element}")
expect_equal("manifest execution level" "${CMAKE_MATCH_1}" asInvoker)
string(REGEX MATCH " uiAccess=\"([^\"]*)\"" _ "${element}")
expect_equal("manifest uiAccess" "${CMAKE_MATCH_1}" false)
# Every Windows version the manifest declares is declared in the executable,
# so that none of them applies its compatibility shims for older programs.
function(supported_os text variable)
  string(REGEX MATCHALL "<supportedOS Id=\"{[^}]*}\"" ids "${text}")
  list(TRANSFORM ids REPLACE "^.*{(.*)}.*$" "\\1")
  set(${variable} "${ids}" PARENT_SCOPE)
endfunction()
file(READ "${MANIFEST}" source_manifest)
supported_os("${source_manifest}" declared)
supported_os("${manifest}" embedded)
if(NOT declared)
  string(APPEND failures "  ${MANIFEST} declares no supportedOS\n")
endif()
expect_equal("manifest supportedOS" "${embedded}" "${declared}")

if(failures)
  message(FATAL_ERROR "greeting.exe in ${package} is not as it should ship:\n${failures}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
