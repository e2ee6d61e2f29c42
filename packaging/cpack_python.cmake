# Included by the scripts cpack runs that run Python: stops, saying how to
# install it, where the configure found no Debian python3
# (CPACK_GREETING_PYTHON).
if(NOT CPACK_GREETING_PYTHON)
  include(${CMAKE_CURRENT_LIST_DIR}/../cmake/tool_packages.cmake)
  greeting_stop_missing("Debian's python3" python3)
endif()
