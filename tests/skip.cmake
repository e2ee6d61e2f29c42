# greeting_skip(<reason>...)
# For a test script that cannot prove anything here: says why on its output,
# where the test's SKIP_REGULAR_EXPRESSION ("^Skipped: ") sees it, and in the
# file GREETING_SKIP_NOTE names, which ctest shows once all tests have run.
function(greeting_skip)
  string(JOIN "" reason ${ARGN})
  message("Skipped: ${reason}")
  if(DEFINED ENV{GREETING_SKIP_NOTE})
    file(WRITE "$ENV{GREETING_SKIP_NOTE}" "${reason}\n")
  endif()
endfunction()
