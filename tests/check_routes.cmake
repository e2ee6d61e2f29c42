# Fails unless greeting calls printf and never puts, and writes to std::cout
# through the C++ library's string inserter. printf shows as itself, as
# __printf_chk (_FORTIFY_SOURCE), or as MinGW's inline wrapper's
# __mingw_vfprintf.
# -D NM=... -D OBJECTS=a.o;...
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${NM} --demangle ${OBJECTS} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[ \n](printf|__printf_chk|__mingw_vfprintf|puts)\n" c_calls "${symbols}")
list(TRANSFORM c_calls STRIP)
if("puts" IN_LIST c_calls)
  message(FATAL_ERROR "greeting calls puts, so its first line does not come from printf:\n${symbols}")
endif()
if(NOT c_calls MATCHES "printf")
  message(FATAL_ERROR "greeting does not call printf:\n${symbols}")
endif()
# libc++'s ABI namespace: __1, or __2 in Debian's WebAssembly build.
if(NOT symbols MATCHES " U std::(__[0-9]+::)?cout\n")
  message(FATAL_ERROR "greeting does not write to std::cout:\n${symbols}")
endif()
set(inserters
  "std::operator<< <std::char_traits<char> >\\(std::basic_ostream<char, std::char_traits<char> >&, char const\\*\\)"
  "std::__ostream_insert<char, std::char_traits<char> >"
  "std::__[0-9]+::__put_character_sequence<char, std::__[0-9]+::char_traits<char> >")
list(JOIN inserters "|" inserter)
if(NOT symbols MATCHES "${inserter}")
  message(FATAL_ERROR "greeting does not use the C++ library's string inserter:\n${symbols}")
endif()
