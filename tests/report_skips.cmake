# Run by ctest once all tests have run: ctest shows a skipped test as
# "***Skipped" and no more, so this prints the reason each one left.
# -D NOTES=directory of notes, one per skipped test, named after it
file(GLOB notes "${NOTES}/*")
foreach(note IN LISTS notes)
  get_filename_component(test "${note}" NAME)
  file(READ "${note}" reason)
  string(STRIP "${reason}" reason)
  message("Skipped ${test}: ${reason}")
endforeach()
