# Checks the headers, imports, version resource and embedded manifest of a
# Windows executable.
# -D PROGRAM=greeting.exe -D OBJDUMP=... -D WINDRES=...
# -D FORMAT=pei-i386|pei-x86-64 -D MAGIC=PE32|PE32+ -D DLLS=KERNEL32.dll;msvcrt.dll
# -D FLAGS=DYNAMIC_BASE;...  the DllCharacteristics flags, exactly
# -D VERSION=1.2.3 -D COPYRIGHT="Copyright (c) ..."
# -D MANIFEST=greeting.manifest  the manifest the executable must carry
cmake_minimum_required(VERSION 3.25)
set(failures "")
function(expect_equal what found wanted)
  if(NOT found STREQUAL wanted)
    set(failures "${failures}  ${what}: wanted '${wanted}', found '${found}'\n" PARENT_SCOPE)
  endif()
endfunction()

set(ENV{TZ} UTC)  # objdump shows the link time in local time
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "file format ([^\n]+)" _ "${headers}")
expect_equal("file format" "${CMAKE_MATCH_1}" "${FORMAT}")
string(REGEX MATCH "Magic[\t ]+[0-9a-f]+[\t ]+\\(([^)]+)\\)" _ "${headers}")
expect_equal("magic" "${CMAKE_MATCH_1}" "${MAGIC}")
# No link time: the same sources give the same executable.
string(REGEX MATCH "\nTime/Date[\t ]+([^\n]+)" _ "${headers}")
expect_equal("link time stamp" "${CMAKE_MATCH_1}" "Thu Jan  1 00:00:00 1970")
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
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(SORT imports)
list(SORT DLLS)
expect_equal("imported DLLs" "${imports}" "${DLLS}")
# Address-space layout randomisation, no execution of data, no Terminal
# Server shims (and on x64 a high-entropy address space): all asked for.
string(REGEX MATCH "DllCharacteristics[\t ]+[0-9a-f]+\n((\t+[A-Z_]+\n)*)" _ "${headers}")
string(REGEX MATCHALL "[A-Z_]+" flags "${CMAKE_MATCH_1}")
list(SORT flags)
list(SORT FLAGS)
expect_equal("DllCharacteristics" "${flags}" "${FLAGS}")

# Decompile the resources and read the version resource, the strings that
# Windows shows under the file's properties.
execute_process(COMMAND ${WINDRES} -i ${PROGRAM} -O rc OUTPUT_VARIABLE resources COMMAND_ERROR_IS_FATAL ANY)
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
  message(FATAL_ERROR "${PROGRAM} is not as it should ship:\n${failures}")
endif()
