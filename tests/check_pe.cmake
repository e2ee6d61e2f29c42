# Checks the headers, imports and embedded manifest of a Windows executable.
# -D PROGRAM=greeting.exe -D OBJDUMP=... -D WINDRES=...
# -D FORMAT=pei-i386|pei-x86-64 -D MAGIC=PE32|PE32+ -D DLLS=KERNEL32.dll;msvcrt.dll
set(failures "")
function(expect_equal what found wanted)
  if(NOT found STREQUAL wanted)
    set(failures "${failures}  ${what}: wanted '${wanted}', found '${found}'\n" PARENT_SCOPE)
  endif()
endfunction()

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "file format ([^\n]+)" _ "${headers}")
expect_equal("file format" "${CMAKE_MATCH_1}" "${FORMAT}")
string(REGEX MATCH "Magic[\t ]+[0-9a-f]+[\t ]+\\(([^)]+)\\)" _ "${headers}")
expect_equal("magic" "${CMAKE_MATCH_1}" "${MAGIC}")
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

# Decompile the resources and read the RT_MANIFEST (type 24) resource, id 1.
execute_process(COMMAND ${WINDRES} -i ${PROGRAM} -O rc OUTPUT_VARIABLE resources COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "\n1 24 [^\n]*\nBEGIN\n([^\n]+\n)*END" manifest "${resources}")
string(REPLACE "\"\"" "\"" manifest "${manifest}")
string(REGEX MATCH "<requestedExecutionLevel[^>]*>" element "${manifest}")
string(REGEX MATCH " level=\"([^\"]*)\"" _ "${element}")
expect_equal("manifest execution level" "${CMAKE_MATCH_1}" asInvoker)
string(REGEX MATCH " uiAccess=\"([^\"]*)\"" _ "${element}")
expect_equal("manifest uiAccess" "${CMAKE_MATCH_1}" false)

if(failures)
  message(FATAL_ERROR "${PROGRAM} is not as it should ship:\n${failures}")
endif()
