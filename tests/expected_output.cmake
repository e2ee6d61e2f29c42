# What greeting must write, as every test expects it: set once, here.
# The two lines, each followed by the platform's line end.
set(GREETING_EXPECTED_FIRST_LINE "Hello Belmorax, C style")
set(GREETING_EXPECTED_SECOND_LINE "Hello Belmorax, C++ style ")
# A refused write: this, then the system's text for the error.
set(GREETING_EXPECTED_DIAGNOSTIC "greeting: write error")
