// greeting: greets once, in two lines, and ends. Each line names the output
// route that writes it: the first goes through C's printf, the second through
// C++'s std::cout.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

int main()
{
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg): printf is the route this line shows.
    std::printf("Hello Belmorax, C style\n");
    std::cout << "Hello Belmorax, C++ style \n";

    // std::cout stays synchronised with stdio, so both lines now sit in
    // stdout's buffer, in the order written. Pushing it out here rather than
    // leaving it to exit is what lets a refused write (a full disk, a closed
    // descriptor, a reader that has gone) be reported instead of lost.
    bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && !std::cout.fail();

    // Network and user-space file systems may take a write into their cache
    // and refuse it only when the file is closed, so close the descriptor
    // and look. Not the FILE: std::cout flushes it once more at exit, and
    // with nothing left in it that touches nothing.
#ifdef _WIN32
    written = written && _close(_fileno(stdout)) == 0;
#else
    written = written && close(STDOUT_FILENO) == 0;
#endif

    if (!written) {
        int const reason = errno;
        // One call, so the line leaves in one write. If standard error fails
        // too, there is no one left to tell: its result is not checked.
        if (reason == 0) {
            // A failure that set no error number has no reason to give;
            // strerror(0) would say "Success".
            // NOLINTNEXTLINE(cert-err33-c)
            std::fputs("greeting: write error\n", stderr);
        } else {
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,cert-err33-c)
            std::fprintf(stderr, "greeting: write error: %s\n", std::strerror(reason));
        }
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
