# Fails unless the compiled program calls printf and never puts.
execute_process(COMMAND ${NM} --undefined-only ${OBJECTS}
  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
if(NOT symbols MATCHES "[ \n]printf\n")
  message(FATAL_ERROR "greeting does not call printf:\n${symbols}")
endif()
if(symbols MATCHES "[ \n]puts\n")
  message(FATAL_ERROR "greeting calls puts, so its first line does not come from printf:\n${symbols}")
endif()
