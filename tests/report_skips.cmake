# Run by ctest after the tests: why each skipped one was (-D NOTES=DIR).
file(GLOB notes "${NOTES}/*")
foreach(note IN LISTS notes)
  get_filename_component(test "${note}" NAME)
  file(READ "${note}" reason)
  string(STRIP "${reason}" reason)
  message("Skipped ${test}: ${reason}")
endforeach()
