#!/usr/bin/python3
"""What greeting promises, as one table of black-box cases, and the one
runner that proves them on every platform.

Usage: black_box.py list
       black_box.py run CASE FACTS [--platform=PLATFORM] [--program=PATH] [--launcher LAUNCHER...]
FACTS (build-facts.json) names the platform, the program and its launcher,
if any: the toolchain's emulator (QEMU, the Wine runner, Node's WASI),
valgrind, or the OCI runner, which runs the container image of the host's
platform or of PLATFORM (linux/arm64, say). --program and --launcher run
another program, or under another launcher. A case that cannot run here
exits 77, saying why. A launcher appends what it says of the run to
GREETING_EMULATOR_LOG's file; it exits 125 with a line beginning
"unusable here: " where it can run nothing here (the case is skipped), or
"emulator failed: " where its emulator crashed or hung under the run (the
case is run again from nothing).
"""

import argparse
import contextlib
import dataclasses
import fcntl
import os
import pathlib
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time

import close_failing_fs
import support

FIRST_LINE = "Hello Belmorax, C style"
SECOND_LINE = "Hello Belmorax, C++ style "  # the space before the line end is part of it
DIAGNOSTIC = "greeting: write error"  # then ": " and the system's text for the error, where there is one
NO_REASON = ""  # refused, and no reason given
WHERE = {"valgrind": "under valgrind", "qemu": "under qemu", "oci": "under an OCI runtime",
         "oci_emulated": "in a container under qemu", "coverage": "in a coverage build"}
# Windows' C runtime writes each line feed, in text mode, as CR LF.
LINE_END = {"linux": "\n", "wasi": "\n", "windows": "\r\n"}
WHOLE = 1 << 30  # written: the whole greeting
LARGEST_DATA_LIMIT = 1 << 30  # where the search for the tightest data limit starts
TIGHTEST, BELOW_TIGHTEST = -1, -2
PAGE = 4096
LAUNCHER_UNUSABLE = 125
EMULATOR_FAILED = "emulator failed: "
ATTEMPTS = 4  # runs of a case whose emulator fails under it


# What a run that does not start may give: anything on standard error, and
# SIGSEGV (a static program's own start-up) or the dynamic loader's 127.
ANYTHING, NOT_STARTED = object(), (-signal.SIGSEGV, 127)
SHOWN = {id(ANYTHING): "anything", id(NOT_STARTED): "SIGSEGV, or status 127"}


def satisfies(found, wanted):
    """Whether what a run gave, (standard output, each write to standard
    error, status), is what was wanted."""
    return all(want is ANYTHING or (got in want if want is NOT_STARTED else got == want)
               for got, want in zip(found, wanted))


@dataclasses.dataclass(frozen=True)
class Case:
    name: str
    # How greeting is started. Standard output is a pipe, a file, a terminal
    # (a pseudo-terminal that shows the bytes as written), a console (the
    # same, read as the screen a person sees), a hung_up_terminal, closed,
    # /dev/full, a full_pipe (a reader drains it once greeting waits on it),
    # a full_nonblocking_pipe (drained only once greeting has ended), a
    # gone_reader (a pipe whose reader has gone), a file that fails when
    # closed, or a sealed_file (a memory file sealed against writes).
    # Standard error is a pipe, a datagram socket (which shows each write as
    # one datagram), a gone_reader, or closed. SIGPIPE and SIGXFSZ are at
    # their defaults unless ignored. A data limit of TIGHTEST is the
    # smallest, to a page, under which greeting still starts and greets: it
    # leaves no room for its heap to grow; BELOW_TIGHTEST is a page less.
    args: tuple = ()
    env: dict = None  # None: the runner's own
    stdin_closed: bool = False  # else /dev/null
    stdout: str = "pipe"
    stderr: str = "pipe"
    ignored: tuple = ()
    file_size_limit: int = None
    data_limit: int = None
    # What it must give: status 0 and the greeting; or, where refused, status
    # 1 and one line on standard error with this reason; or the signal that
    # ends it. A run that fails writes `written` bytes first. One that does
    # not start writes nothing, may say anything on standard error, and
    # ends as NOT_STARTED says.
    refused: str = None
    killed_by: signal.Signals = None
    written: int = 0
    starts: bool = True
    # A fault of the platform's C runtime, injected at link time into a test
    # build of greeting (tests/inject_faults.cpp); GREETING_INJECT tells it
    # which.
    injected: str = None
    # Where a platform, valgrind, QEMU, an OCI runtime (with QEMU inside:
    # oci_emulated) or a coverage build differs: the reason it cannot run
    # the case, or a dict of fields that replace the case's own, with `why`.
    linux: object = None
    windows: object = None
    wasi: object = None
    valgrind: object = None
    qemu: object = None
    oci: object = None
    oci_emulated: object = None
    coverage: object = None


THROUGH_CMD = ("the Wine runner starts greeting through cmd (to keep Wine's own messages off greeting's standard "
               "error), which would expand % in an argument and takes at most 8191 characters")
NO_SIGNALS = "no signals there: the case without them is "
NO_FILE_SIZE_LIMIT = "Windows has no file-size limit; one set on Wine would limit Wine's own files"
NO_DATA_LIMIT = "Windows has no data limit; one set on Wine would limit Wine"
DATA_LIMIT_ON_NODE = "the limit would fall on Node, whose own memory grows as it pleases"
DATA_LIMIT_ON_VALGRIND = "greeting runs in valgrind's memory, which the limit would cut"
DATA_LIMIT_ON_QEMU = "the limit would fall on QEMU's own memory first, and QEMU crashes or spins under it"
DATA_LIMIT_ON_OCI_RUNNER = "the limit would fall first on the OCI runner, a Python program, which hands it to greeting"
# The first process of a PID namespace gets no signal it has not asked for.
FIRST_IN_CONTAINER = "greeting is its container's first process, which the kernel sends no signal it has not asked for"
ONLY_MSVCRT = "the fault is Microsoft's msvcrt's, injected into the Windows build alone"
OCI_CLOSED = ("runc, starting greeting as the image's user (not root), hands it its standard streams, and cannot "
              "where one is closed")
# QEMU, the container's first process, takes every signal greeting could
# get, to pass it on; ending itself by the signal's default action, as the
# kernel does not let a container's first process, it waits forever.
OCI_EMULATED_SIGNAL = "QEMU, the container's first process, takes the signal, and hangs ending itself by it"
WASI_EIO = {"why": "wasi-libc's text for EIO", "refused": "I/O error"}
WASI_CLOSED = {"why": "Node opens /dev/null on a closed standard stream at its own start-up, before the module runs, "
                      "so greeting's writes succeed", "refused": None}

CASES = [
    # Arguments are accepted and ignored, whatever they look like.
    Case("arguments.none"),
    Case("arguments.help_and_version", args=("--help", "-h", "--version", "-v")),
    Case("arguments.empty_strings", args=("", "")),
    Case("arguments.end_of_options", args=("--", "-")),
    Case("arguments.printf_directives", args=("%s%n%x", "%%"), windows=THROUGH_CMD),
    Case("arguments.many", args=("x",) * 5000, windows=THROUGH_CMD),
    # Where standard output leads, what the environment holds and whether
    # standard input is open change nothing: the same bytes, in order.
    Case("stdin.closed", stdin_closed=True, oci=OCI_CLOSED),
    Case("environment.empty", env={}),
    Case("environment.unusual", env={"LC_ALL": "tr_TR.UTF-8", "LANG": "ja_JP.eucJP", "POSIXLY_CORRECT": "1",
                                     "GREETING": "%s%n", "MALLOC_PERTURB_": "165"}),
    Case("stdout.file", stdout="file"),
    Case("stdout.terminal", stdout="terminal",
         windows={"why": "a terminal is a Windows console there, drawn with cursor and erase sequences",
                  "stdout": "console"}),
    # A reader slow to start: greeting waits for it, and every byte arrives.
    Case("stdout.full_pipe_slow_reader", stdout="full_pipe"),
    # A refused write is reported on standard error, in one line, and fails
    # the run; what was written before the refusal stays written.
    Case("refused.full_device", stdout="/dev/full", refused="No space left on device"),
    Case("refused.stdout_closed", stdout="closed", refused="Bad file descriptor", wasi=WASI_CLOSED, oci=OCI_CLOSED),
    # With standard error closed too, there is no one to tell; the status
    # still says it.
    Case("refused.stdout_and_stderr_closed", stdout="closed", stderr="closed", refused="Bad file descriptor",
         wasi=WASI_CLOSED, oci=OCI_CLOSED),
    # The report needs no memory: it is made where the heap can grow no more.
    Case("refused.no_memory_left", stdout="/dev/full", data_limit=TIGHTEST, refused="No space left on device",
         windows=NO_DATA_LIMIT, wasi=DATA_LIMIT_ON_NODE, valgrind=DATA_LIMIT_ON_VALGRIND, qemu=DATA_LIMIT_ON_QEMU,
         oci=DATA_LIMIT_ON_OCI_RUNNER),
    # With less, greeting cannot even start: the C library's start-up gives
    # up before greeting runs. Nothing is written, and it ends by SIGSEGV,
    # or with the loader's status, never in success.
    Case("startup.below_tightest_data_limit", data_limit=BELOW_TIGHTEST, starts=False,
         windows=NO_DATA_LIMIT, wasi=DATA_LIMIT_ON_NODE, valgrind=DATA_LIMIT_ON_VALGRIND, qemu=DATA_LIMIT_ON_QEMU,
         oci=DATA_LIMIT_ON_OCI_RUNNER),
    # Line buffered on a terminal, each line is refused as it is written,
    # before the last flush.
    Case("refused.terminal_hung_up", stdout="hung_up_terminal", refused="Input/output error",
         windows={"why": "as Wine gives it: a Windows console cannot hang up", "refused": "Invalid argument"},
         wasi=WASI_EIO),
    # The report leaves in one write, so no other writer can split it.
    Case("refused.report_in_one_write", stdout="/dev/full", stderr="datagram", refused="No space left on device",
         windows="the Wine runner must give greeting its standard error through cmd, which cannot open a socket: "
                 "shared with Wine's, it would hold 32-bit Wine's crash messages under QEMU"),
    # A reader that has gone ends greeting by SIGPIPE, silently, as it ends
    # any Unix filter; with SIGPIPE ignored, it is a refused write.
    Case("refused.reader_gone", stdout="gone_reader", killed_by=signal.SIGPIPE,
         windows={"why": "Windows has no SIGPIPE; this is what Wine gives", "refused": "Invalid argument"},
         wasi={"why": "WASI has no signals", "refused": "Broken pipe"},
         oci={"why": FIRST_IN_CONTAINER, "refused": "Broken pipe"}, oci_emulated=OCI_EMULATED_SIGNAL),
    Case("refused.reader_gone_sigpipe_ignored", stdout="gone_reader", ignored=(signal.SIGPIPE,), refused="Broken pipe",
         windows=NO_SIGNALS + "refused.reader_gone", wasi=NO_SIGNALS + "refused.reader_gone",
         oci_emulated=OCI_EMULATED_SIGNAL),
    # The report itself may meet a reader that has gone: SIGPIPE ends
    # greeting then, as it ends any filter.
    Case("refused.report_reader_gone", stdout="/dev/full", stderr="gone_reader", killed_by=signal.SIGPIPE,
         windows={"why": "Windows has no SIGPIPE: the report is refused, and the status alone tells",
                  "killed_by": None, "refused": "No space left on device"},
         wasi={"why": "WASI has no signals: the report is refused, and the status alone tells",
               "killed_by": None, "refused": "No space left on device"},
         oci={"why": FIRST_IN_CONTAINER + ": the report is refused, and the status alone tells",
              "killed_by": None, "refused": "No space left on device"}, oci_emulated=OCI_EMULATED_SIGNAL),
    # A write that would wait, on standard output that its owner made
    # non-blocking, is refused: greeting does not wait in a loop.
    Case("refused.full_nonblocking_pipe", stdout="full_nonblocking_pipe", refused="Resource temporarily unavailable",
         windows="under Wine the run waits on the full pipe, with no Windows process using any CPU time, until the "
                 "Wine runner gives it up",
         oci="runc, a Go program, makes standard output blocking as it hands it on (Go's File.Fd does), so greeting "
             "waits on the full pipe"),
    # Both lines leave in one write, cut short by the limit: the rest is
    # refused, with SIGXFSZ (a shell's usual state) or without it.
    Case("refused.file_size_limit", stdout="file", file_size_limit=30, written=30, killed_by=signal.SIGXFSZ,
         windows=NO_FILE_SIZE_LIMIT, wasi={"why": "WASI has no signals, and Node ignores SIGXFSZ",
                                           "refused": "File too large", "killed_by": None},
         valgrind="valgrind writes a file of its own before greeting starts, and the limit ends valgrind there",
         oci={"why": FIRST_IN_CONTAINER, "refused": "File too large", "killed_by": None},
         oci_emulated=OCI_EMULATED_SIGNAL),
    Case("refused.file_size_limit_sigxfsz_ignored", stdout="file", file_size_limit=30, written=30,
         ignored=(signal.SIGXFSZ,), refused="File too large",
         windows=NO_FILE_SIZE_LIMIT, wasi=NO_SIGNALS + "refused.file_size_limit",
         coverage="at exit the coverage run writes its counts to a file, which the limit refuses too, and says so",
         oci_emulated=OCI_EMULATED_SIGNAL),
    # Microsoft's msvcrt fails where Wine never does: a write of the second
    # line that takes only half of it sets no errno, and the report gives
    # no reason; a close that fails gives its own.
    Case("refused.short_write_without_reason", injected="short_write", refused=NO_REASON, written=25 + 27 // 2,
         linux=ONLY_MSVCRT, wasi=ONLY_MSVCRT),
    Case("refused.close_fails", injected="close_fails", written=WHOLE, refused="No space left on device",
         linux=ONLY_MSVCRT + "; refused.at_close fails a close here", wasi=ONLY_MSVCRT),
    # Whatever the error, its reason is given: here EPERM, the first errno.
    Case("refused.sealed_file", stdout="sealed_file", refused="Operation not permitted",
         windows={"why": "as Wine gives it", "refused": "Bad file descriptor"}),
    # A file system that takes every write and refuses the data only when the
    # file is closed (close_failing_fs.py).
    Case("refused.at_close", stdout="close_failing_file", written=WHOLE, refused="Input/output error",
         windows="Wine does not pass on what close(2) returns: under it, no close fails", wasi=WASI_EIO),
]


def blocked_on(pipe):
    """Whether a process waits to write to this pipe as its standard output."""
    inode = os.fstat(pipe).st_ino
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):  # gone, or not ours to look at
            if os.stat(f"/proc/{pid}/fd/1").st_ino == inode and any(
                    pathlib.Path(f"/proc/{pid}/task/{thread}/wchan").read_text().endswith("pipe_write")
                    for thread in os.listdir(f"/proc/{pid}/task")):
                return True
    return False


def read_to_end(descriptor, into):
    """Reads in the background until no process holds the other end."""
    def read():
        with contextlib.suppress(OSError):  # EIO: a terminal's other side, once closed
            while chunk := os.read(descriptor, 65536):
                into.extend(chunk)
        os.close(descriptor)

    thread = threading.Thread(target=read)
    thread.start()
    return thread


def screen(text, hint):
    """The lines a person would see on the terminal."""
    try:
        import pyte
    except ImportError:
        sys.exit(f"the console case needs pyte ({hint})")
    display = pyte.Screen(80, 24)
    pyte.ByteStream(display).feed(text)
    return "\n".join(line.rstrip() for line in display.display).rstrip("\n").encode()


def open_stdout(case, out_path):
    """Greeting's standard output, where to read it back (or None), and how
    many bytes the pipe already holds."""
    reader, stdout, filler = None, None, 0
    if case.stdout in ("pipe", "full_pipe", "full_nonblocking_pipe", "gone_reader"):
        reader, stdout = os.pipe()
        if case.stdout in ("full_pipe", "full_nonblocking_pipe"):
            os.set_blocking(stdout, False)
            with contextlib.suppress(BlockingIOError):
                while True:
                    filler += os.write(stdout, b"." * 4096)
            os.set_blocking(stdout, case.stdout == "full_pipe")
    elif case.stdout in ("terminal", "console", "hung_up_terminal"):
        reader, stdout = os.openpty()
        settings = termios.tcgetattr(stdout)
        settings[1] &= ~termios.OPOST  # the bytes as written: no CR before each line feed
        termios.tcsetattr(stdout, termios.TCSANOW, settings)
    elif case.stdout in ("file", "close_failing_file"):
        stdout = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    elif case.stdout == "/dev/full":
        stdout = os.open("/dev/full", os.O_WRONLY)
    elif case.stdout == "sealed_file":
        stdout = os.memfd_create("greeting-out", os.MFD_ALLOW_SEALING)
        fcntl.fcntl(stdout, fcntl.F_ADD_SEALS, fcntl.F_SEAL_WRITE)
    if case.stdout in ("gone_reader", "hung_up_terminal"):
        os.close(reader)
        reader = None
    return stdout, reader, filler


def open_stderr(case):
    """Greeting's standard error, and where to read it back (or None)."""
    if case.stderr == "datagram":
        reader, stderr = socket.socketpair(socket.AF_UNIX, socket.SOCK_DGRAM)
        return stderr.detach(), reader
    reader, stderr = os.pipe()
    if case.stderr == "gone_reader":
        os.close(reader)
        return stderr, None
    return stderr, reader


def child_setup(case):
    """The case's signal dispositions, limits and closed descriptors, set in
    the child before it starts greeting (or its launcher)."""
    def in_child():
        signal.pthread_sigmask(signal.SIG_SETMASK, set())
        for number in (signal.SIGPIPE, signal.SIGXFSZ):
            signal.signal(number, signal.SIG_IGN if number in case.ignored else signal.SIG_DFL)
        for limit, value in ((resource.RLIMIT_FSIZE, case.file_size_limit), (resource.RLIMIT_DATA, case.data_limit)):
            if value is not None:
                resource.setrlimit(limit, (value, resource.getrlimit(limit)[1]))
        for descriptor, closed in ((0, case.stdin_closed), (1, case.stdout == "closed"),
                                   (2, case.stderr == "closed")):
            if closed:
                os.close(descriptor)
    return in_child


def greet(case, command, scratch, out_path, facts):
    """Starts greeting as the case says: how many bytes its pipe held first,
    and (standard output, each write to standard error, status)."""
    stdout, out_reader, filler = open_stdout(case, out_path)
    stderr, err_reader = open_stderr(case)
    env = case.env
    if env is None and len(command) > 1:
        env = dict(os.environ, GREETING_EMULATOR_LOG=os.path.join(scratch, "emulator.log"))
    if case.injected:
        command = [*command[:-1], facts["program_with_faults"]]
        env = dict(env or os.environ, GREETING_INJECT=case.injected)
    process = subprocess.Popen([*command, *case.args], stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                               env=env, preexec_fn=child_setup(case))
    if stdout is not None:
        with contextlib.suppress(OSError):  # the close-failing file system fails every close
            os.close(stdout)
    os.close(stderr)

    out, err, readers = bytearray(), bytearray(), []
    if case.stderr == "pipe":
        readers.append(read_to_end(err_reader, err))
    if case.stdout == "full_pipe":
        while process.poll() is None and not blocked_on(out_reader):
            time.sleep(0.05)
    if out_reader is not None and case.stdout != "full_nonblocking_pipe":
        readers.append(read_to_end(out_reader, out))
    process.wait()
    if case.stdout == "full_nonblocking_pipe":
        readers.append(read_to_end(out_reader, out))
    for thread in readers:
        thread.join()
    writes = [bytes(err)]
    if case.stderr == "datagram":
        with contextlib.suppress(BlockingIOError):
            while True:
                writes.append(err_reader.recv(65536, socket.MSG_DONTWAIT))
        err_reader.close()
    if case.stdout in ("file", "close_failing_file"):
        with contextlib.suppress(OSError), open(out_path, "rb") as file:  # whose close fails, for the latter
            out = file.read()
    if case.stdout == "console":
        out = screen(out, facts["hints"]["pyte"])
    # An empty write (valgrind makes one) carries nothing.
    return filler, (bytes(out), [write for write in writes if write], process.returncode)


def expected(platform, case, filler):
    """What greeting must give, as greet() returns it."""
    line_end = LINE_END[platform]
    greeting = (FIRST_LINE + line_end + SECOND_LINE + line_end).encode()
    if case.stdout == "console":  # as a person sees it: no trailing blanks
        greeting = (FIRST_LINE + "\n" + SECOND_LINE.rstrip()).encode()
    if not case.starts:
        return b"." * filler, ANYTHING, NOT_STARTED
    refused = case.refused is not None
    written = 0 if case.stdout == "closed" else case.written if refused or case.killed_by else WHOLE
    reason = f": {case.refused}" if case.refused else ""
    report = [(DIAGNOSTIC + reason + line_end).encode()] if refused and case.stderr in ("pipe", "datagram") else []
    status = 1 if refused else -case.killed_by if case.killed_by else 0
    return b"." * filler + greeting[:written], report, status


def tightest_data_limit(platform, command, scratch, facts):
    """The smallest data limit, to a page, under which greeting greets, or None."""
    plain = Case("probe")

    def greets(limit):
        found = greet(dataclasses.replace(plain, data_limit=limit), command, scratch, None, facts)[1]
        return satisfies(found, expected(platform, plain, 0))

    low, high = 0, LARGEST_DATA_LIMIT
    if not greets(high):
        return None
    while high - low > PAGE:
        middle = (low + high) // 2 // PAGE * PAGE
        low, high = (low, middle) if greets(middle) else (middle, high)
    return high


def shown(value):
    text = SHOWN.get(id(value)) or repr(value)
    return text if len(text) < 200 else f"{len(value)} bytes, ending {value[-80:]!r}"


def main(argv):
    if argv == ["list"]:
        print("\n".join(case.name for case in CASES))
        return 0
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("run", choices=["run"])
    parser.add_argument("case", choices=[case.name for case in CASES])
    parser.add_argument("facts", type=support.facts)
    parser.add_argument("--platform")
    parser.add_argument("--program")
    parser.add_argument("--launcher", nargs=argparse.REMAINDER)
    arguments = parser.parse_args(argv)
    facts, case = arguments.facts, next(case for case in CASES if case.name == arguments.case)
    platform, kinds = facts["platform"], [facts["launcher_kind"]]
    launcher, program = facts["launcher"], arguments.program or facts["program"]
    if arguments.launcher is not None or arguments.program and facts["launcher_kind"] == "oci":
        # Another program (installed, say), or under another launcher.
        launcher, kinds = arguments.launcher or [], []
    elif facts["launcher_kind"] == "oci":
        # The image, of the host's platform or, under QEMU, another's.
        if os.geteuid() != 0:
            return support.skip("runc starts greeting's container as root only, here")
        image_platform = arguments.platform or facts["image_platforms"][0]
        launcher, program = [*launcher, facts["version"], image_platform], facts["image"]
        if image_platform != facts["image_platforms"][0]:
            kinds += ["qemu", "oci_emulated"]
    command = [*launcher, program]
    for where in (platform, *kinds, "coverage" if facts["coverage"] else None):
        variant = getattr(case, where, None) if where else None
        where = WHERE.get(where, f"on {where}")
        if isinstance(variant, str):
            return support.skip(f"not {where}: {variant}")
        if variant:
            print(f"{where[0].upper()}{where[1:]}: {variant['why']}")
            case = dataclasses.replace(case, **{key: value for key, value in variant.items() if key != "why"})

    if case.data_limit in (TIGHTEST, BELOW_TIGHTEST):
        with tempfile.TemporaryDirectory(prefix="greeting-") as scratch:
            limit = tightest_data_limit(platform, command, scratch, facts)
        if limit is None:
            return support.skip(f"greeting does not start under any data limit up to {LARGEST_DATA_LIMIT} bytes here "
                        "(a sanitizer's shadow memory, say)")
        if case.data_limit == BELOW_TIGHTEST:
            limit -= PAGE
        print(f"Data limit: {limit} bytes")
        case = dataclasses.replace(case, data_limit=limit)
    # An emulator that fails under the run (crashes, say, once greeting has
    # written) leaves bytes that cannot be taken back: the case runs again
    # from nothing, with a new file, new pipes and new expectations.
    for attempt in range(1, ATTEMPTS + 1):
        with tempfile.TemporaryDirectory(prefix="greeting-") as scratch:
            try:
                with (close_failing_fs.mounted(os.path.join(scratch, "close-failing"), facts["hints"]["fuse"])
                      if case.stdout == "close_failing_file" else contextlib.nullcontext(scratch)) as directory:
                    filler, found = greet(case, command, scratch, os.path.join(directory, "out"), facts)
            except close_failing_fs.Unusable as reason:
                return support.skip(str(reason))
            log = pathlib.Path(scratch, "emulator.log")
            said = log.read_text(errors="replace") if log.exists() else ""
        print(said, end="")
        lines = [*said.splitlines(), *b"".join(found[1]).decode(errors="replace").splitlines()]
        unusable = [line for line in lines if line.startswith("unusable here: ")]
        if found[2] == LAUNCHER_UNUSABLE and unusable:
            return support.skip(unusable[0][len("unusable here: "):])
        emulator_failed = [line for line in lines if line.startswith(EMULATOR_FAILED)]
        if found[2] != LAUNCHER_UNUSABLE or not emulator_failed:
            break
        print(f"Attempt {attempt} of {ATTEMPTS} failed in the emulator: the case runs again from nothing")
    else:
        print(f"greeting ({case.name}): the emulator failed in each of {ATTEMPTS} attempts, so nothing is proven")
        return 1
    if attempt > 1:
        print(f"Attempt {attempt} of {ATTEMPTS}, run from nothing, completed")

    failures = [f"  {what}:\n    wanted {shown(want)}\n    found  {shown(got)}"
                for what, want, got in zip(("standard output", "standard error, each write", "status"),
                                           expected(platform, case, filler), found) if not satisfies([got], [want])]
    if failures:
        print(f"greeting {' '.join(case.args)[:60]} ({case.name}):\n" + "\n".join(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
