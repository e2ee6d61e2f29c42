// Faults of Microsoft's msvcrt that Wine never shows, injected at link time
// (-Wl,--wrap) into a test build of greeting's objects; GREETING_INJECT names
// one:
// - short_write: WriteFile took part of a line; msvcrt's _write returns the
//   short count with no errno, and fwrite (stdout is unbuffered there) marks
//   the stream failed: a refusal without a reason.
// - close_fails: closing the handle failed, as a network share's may.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>

// _close is called through its import's pointer; 32-bit names carry a "_".
#ifdef __i386__
extern "C" int (*__real__imp___close)(int);
#define REAL_CLOSE __real__imp___close
#else
extern "C" int (*__real___imp__close)(int);
#define REAL_CLOSE __real___imp__close
#endif

namespace {

bool injecting(const char* fault)
{
    const char* named = std::getenv("GREETING_INJECT");
    return named != nullptr && std::strcmp(named, fault) == 0;
}

// The handle is gone all the same, as msvcrt frees it whatever CloseHandle says.
int close_fails(int descriptor)
{
    const int closed = REAL_CLOSE(descriptor);
    if (!injecting("close_fails")) {
        return closed;
    }
    errno = ENOSPC;
    return -1;
}

}  // namespace

extern "C" {

size_t __real_fwrite(const void* data, size_t size, size_t count, FILE* stream);

size_t __wrap_fwrite(const void* data, size_t size, size_t count, FILE* stream)
{
    static bool injected = false;
    if (stream != stdout || injected || size == 0 || !injecting("short_write")) {
        return __real_fwrite(data, size, count, stream);
    }
    injected = true;
    const size_t taken = __real_fwrite(data, 1, size * count / 2, stream);
    stream->_flag |= _IOERR;
    return taken / size;
}

#ifdef __i386__
int (*__wrap__imp___close)(int) = close_fails;
#else
int (*__wrap___imp__close)(int) = close_fails;
#endif
}
