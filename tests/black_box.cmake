# The black-box tests (greeting_test.cpp): greeting started as a shell or
# another program would start it.
include(GoogleTest)

# Prepended to the program in the black-box tests, to run it under a checker
# such as valgrind.
set(GREETING_TEST_LAUNCHER "" CACHE STRING "Command that the tests run greeting under")

add_executable(greeting_test greeting_test.cpp)
target_compile_features(greeting_test PRIVATE cxx_std_20)
include(expected_output.cmake)
target_compile_definitions(greeting_test PRIVATE
  "GREETING_EXPECTED_FIRST_LINE=\"${GREETING_EXPECTED_FIRST_LINE}\""
  "GREETING_EXPECTED_SECOND_LINE=\"${GREETING_EXPECTED_SECOND_LINE}\""
  "GREETING_EXPECTED_DIAGNOSTIC=\"${GREETING_EXPECTED_DIAGNOSTIC}\"")
target_link_libraries(greeting_test PRIVATE GTest::gtest)
add_dependencies(greeting_test greeting)
# clang-tidy reads the driver too (tests/.clang-tidy); cppcheck does not, as
# it cannot parse GoogleTest's test-defining macros, so it keeps to src/.
set_target_properties(greeting_test PROPERTIES CXX_CPPCHECK "")

set(command ${GREETING_TEST_LAUNCHER} $<TARGET_FILE:greeting>)
gtest_discover_tests(greeting_test EXTRA_ARGS ${command} NO_PRETTY_VALUES
  TEST_FILTER "-CloseFailing.*")

# A file system whose files fail when closed, mounted for the one test that
# needs it. Where FUSE cannot be used, the mount and that test are both
# reported skipped, saying why.
set(close_failing_fs ${CMAKE_CURRENT_SOURCE_DIR}/close_failing_fs.py)
set(close_failing_dir ${CMAKE_CURRENT_BINARY_DIR}/close-failing)
add_test(NAME close_failing_fs.mount COMMAND ${close_failing_fs} mount ${close_failing_dir})
add_test(NAME close_failing_fs.unmount COMMAND ${close_failing_fs} unmount ${close_failing_dir})
set_tests_properties(close_failing_fs.mount PROPERTIES FIXTURES_SETUP close_failing_fs SKIP_RETURN_CODE 77)
greeting_may_skip(close_failing_fs.mount)
set_tests_properties(close_failing_fs.unmount PROPERTIES FIXTURES_CLEANUP close_failing_fs)
gtest_discover_tests(greeting_test EXTRA_ARGS ${command} NO_PRETTY_VALUES
  TEST_FILTER "CloseFailing.*" TEST_LIST close_failing_tests
  PROPERTIES FIXTURES_REQUIRED close_failing_fs ENVIRONMENT GREETING_CLOSE_FAILING_DIR=${close_failing_dir})
