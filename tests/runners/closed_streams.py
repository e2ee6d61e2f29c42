"""For the emulators' runners: a standard stream closed for a runner stays
closed for the program it runs."""

import os


def hold_closed_streams():
    """Holds each standard stream that is closed here by /dev/null, so that
    nothing the runner opens lands on it, and says which they are: the
    runner closes them again in the process that starts the program."""
    closed = []
    for descriptor in (0, 1, 2):
        try:
            os.fstat(descriptor)
        except OSError:
            closed.append(descriptor)
            os.dup2(os.open(os.devnull, os.O_RDWR), descriptor)
    return closed
