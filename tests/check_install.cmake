# Installs the build into a scratch prefix, finds there every file the
# build's facts say it installs (but the notices and bill, which packing
# writes), and runs the program installed.
# -D BUILD_DIR=... -D CONFIG=... -D PREFIX=... -D FACTS=build-facts.json
# -D RUNNER=command that runs a case, given --program=PATH
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}" --prefix "${PREFIX}"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(READ "${FACTS}" facts)
string(JSON installed GET "${facts}" installed)
string(JSON count LENGTH "${installed}")
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON key MEMBER "${installed}" ${index})
  string(JSON path GET "${installed}" ${key})
  if(NOT key MATCHES "^(notices|bom)$" AND (NOT EXISTS "${PREFIX}/${path}" OR IS_DIRECTORY "${PREFIX}/${path}"))
    message(FATAL_ERROR "not installed: the ${key} at ${path}, where the build's facts put it")
  endif()
endforeach()
string(JSON program GET "${installed}" program)
execute_process(COMMAND ${RUNNER} "--program=${PREFIX}/${program}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${PREFIX}")
