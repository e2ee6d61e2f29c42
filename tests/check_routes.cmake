# Fails unless the compiled program writes its first line with a real printf
# call (glibc's checked __printf_chk when built with _FORTIFY_SOURCE) and never
# puts, and its second with the C++ library's string inserter on std::cout
# (libstdc++'s or libc++'s).
# -D NM=... -D OBJECTS=a.o;...
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${NM} --demangle ${OBJECTS} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[ \n](printf|__printf_chk|puts)\n" c_calls "${symbols}")
list(TRANSFORM c_calls STRIP)
if("puts" IN_LIST c_calls)
  message(FATAL_ERROR "greeting calls puts, so its first line does not come from printf:\n${symbols}")
endif()
if(NOT c_calls MATCHES "printf")
  message(FATAL_ERROR "greeting does not call printf:\n${symbols}")
endif()
if(NOT symbols MATCHES " U std::(__1::)?cout\n")
  message(FATAL_ERROR "greeting does not write to std::cout:\n${symbols}")
endif()
set(inserters
  "std::operator<< <std::char_traits<char> >\\(std::basic_ostream<char, std::char_traits<char> >&, char const\\*\\)"
  "std::__ostream_insert<char, std::char_traits<char> >"
  "std::__1::__put_character_sequence<char, std::__1::char_traits<char> >")
list(JOIN inserters "|" inserter)
if(NOT symbols MATCHES "${inserter}")
  message(FATAL_ERROR "greeting does not use the C++ library's string inserter:\n${symbols}")
endif()
