#!/usr/bin/python3 -B
"""Runs a Windows program under Wine, dependably: the Windows toolchains'
emulator (CMAKE_CROSSCOMPILING_EMULATOR).

32-bit Wine under QEMU now and then hangs, its helpers crash and say so on
the standard error they would share with the program, and hung ones outlive
whoever started them. So that a verdict is about the program alone:

- The program gets this runner's standard input and output as they are.
  Only standard error is kept apart: Wine's cmd opens this runner's anew
  for the program (through /proc), and what Wine and QEMU print goes to a
  scratch file.
- Every start has a time limit, and is taken for hung sooner if none of the
  prefix's Windows processes uses any CPU time for a while. A start that
  completes is the verdict. One that hangs or whose emulator is killed,
  perhaps after the program has written, cannot be taken back, so the
  runner ends every process of the prefix, says "emulator failed: " and
  why in one line, exits 125, and the caller runs the case again from
  nothing. Making the prefix, which touches no descriptor of the caller's,
  is retried here.
- It runs Wine on one CPU, where QEMU's emulation of Wine's threads hangs
  far less often; interrupted, it ends every process of the prefix.

Usage: wine_run.py [--win32] WINE PROGRAM [ARG...]
Exits with the program's status, or 125. The prefix is `wineprefix` beside
PROGRAM, made on first use (32-bit with --win32), one start at a time.
What the runner did is appended to GREETING_EMULATOR_LOG's file, or else
to `wineprefix.log`.
"""

import contextlib
import fcntl
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import support  # noqa: E402

ATTEMPTS = 4
# Seconds: under QEMU, 32-bit Wine is many times slower, most of all making
# a prefix. At worst, ATTEMPTS x BOOT_LIMIT, then the case run again from
# nothing as often by black_box.py, ATTEMPTS x RUN_LIMIT: 1200 s, within
# ctest's default limit of 1500 s a test.
RUN_LIMIT = 120
BOOT_LIMIT = 180
# A hung start gets no CPU time in any Windows process (the Wine server
# still wakes for its timers); a working one never idles for long.
IDLE_LIMIT = 20
GAVE_UP = 125
PREFIX_WORKS = 7  # what cmd /c exit 7 gives in a prefix that works


def note(wine_prefix, text, prefix="wine_run.py: "):
    support.log(f"{prefix}{text}", f"{wine_prefix}.log")


def prefix_processes(wine_prefix, server=True):
    """The Wine and QEMU processes started for this prefix (not this one);
    without the Wine server if `server` is false."""
    marker = f"WINEPREFIX={wine_prefix}".encode()
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        if int(entry) == os.getpid():
            continue
        with contextlib.suppress(OSError):  # gone, or not ours to read
            environment = pathlib.Path(f"/proc/{entry}/environ").read_bytes().split(b"\0")
            executable = os.path.basename(os.readlink(f"/proc/{entry}/exe"))
            if marker in environment and re.match(r"(wine|qemu-)", executable) and (
                    server or not executable.startswith("wineserver")):
                found.append(int(entry))
    return found


def end_prefix_processes(wine_prefix):
    """Ends them all, hung ones too (wineserver -k does not), and says how many."""
    ended = set()
    for _ in range(50):
        if not (processes := prefix_processes(wine_prefix)):
            break
        for pid in processes:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
                ended.add(pid)
        time.sleep(0.1)
    else:
        note(wine_prefix, f"processes of {wine_prefix} still running: {prefix_processes(wine_prefix)}")
    return len(ended)


def cpu_time(processes):
    """The CPU time these processes have used, in clock ticks."""
    total = 0
    for pid in processes:
        with contextlib.suppress(OSError):
            fields = pathlib.Path(f"/proc/{pid}/stat").read_text(errors="replace").rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
    return total


def wait_for(process, wine_prefix, limit):
    """The start's status, or why it was given up: no end within `limit`,
    or no CPU time used by any Windows process of the prefix for IDLE_LIMIT."""
    started = time.monotonic()
    used, idle_since = -1, started
    while True:
        try:
            return process.wait(1), None
        except subprocess.TimeoutExpired:
            pass
        now = time.monotonic()
        if now - started > limit:
            return None, f"no end after {limit} s"
        used_now = cpu_time(prefix_processes(wine_prefix, server=False))
        if used_now != used:
            used, idle_since = used_now, now
        elif now - idle_since > IDLE_LIMIT:
            return None, f"blocked: no Windows process of the prefix used any CPU time for {IDLE_LIMIT} s"


def tail(path, lines=5):
    return "".join(f"\n    {line}" for line in pathlib.Path(path).read_text(errors="replace").splitlines()[-lines:])


def attempt_all(wine_prefix, what, start, limit, verdict=lambda status: True, attempts=ATTEMPTS):
    """Starts `start` until one start completes with a status that `verdict`
    takes; returns that status, or None. With one attempt, a failed start is
    said as the caller reads it: "emulator failed: " and why."""
    for attempt in range(1, attempts + 1):
        with tempfile.NamedTemporaryFile(prefix="wine-", suffix=".log") as emulator_log:
            process = start(emulator_log)
            status, reason = wait_for(process, wine_prefix, limit)
            if status is not None:
                if status >= 0 and verdict(status):
                    if attempt > 1:
                        note(wine_prefix, f"{what}: attempt {attempt} of {attempts} completed")
                    return status
                reason = (f"it ended with status {status}" if status >= 0 else
                          f"the emulator was killed by {signal.Signals(-status).name}")
            with contextlib.suppress(ProcessLookupError):  # first what was started, so it starts nothing more
                os.killpg(process.pid, signal.SIGKILL)
            ended = end_prefix_processes(wine_prefix)
            process.wait()
            said = f"{reason}; ended {ended} processes of the prefix; Wine and QEMU said:{tail(emulator_log.name)}"
            if attempts == 1:
                note(wine_prefix, f"{what}: {said}", prefix="emulator failed: ")
                return None
            note(wine_prefix, f"{what}: attempt {attempt} of {attempts} failed: {said}")
    note(wine_prefix, f"{what}: gave up after {attempts} attempts")
    return None


def on_one_cpu():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_prefix(wine, wine_prefix):
    """Makes the prefix anew. It is made when Wine runs a command in it:
    wineboot's own status says little, as under QEMU it is now and then
    killed once the prefix is written, and a prefix it made may still not
    work."""
    end_prefix_processes(wine_prefix)

    def start(emulator_log):
        shutil.rmtree(wine_prefix, ignore_errors=True)
        return subprocess.Popen(["sh", "-c", f'"$0" wineboot --init; exec "$0" cmd /c exit {PREFIX_WORKS}', wine],
                                stdin=subprocess.DEVNULL, stdout=emulator_log, stderr=emulator_log,
                                preexec_fn=on_one_cpu, start_new_session=True)

    made = attempt_all(wine_prefix, "making the prefix", start, BOOT_LIMIT,
                       verdict=lambda status: status == PREFIX_WORKS)
    # What wineboot left running would otherwise hold the prefix.
    end_prefix_processes(wine_prefix)
    return made == PREFIX_WORKS


def run_in_prefix(wine, wine_prefix, program, arguments):
    if unpassable := [argument for argument in arguments if re.search('["%]', argument)]:
        sys.exit(f"wine_run.py: cmd cannot pass {unpassable[0]!r} on unchanged")
    closed = support.hold_closed_streams()
    command = [wine, "cmd", "/c", windows_path(program), *(f'"{argument}"' for argument in arguments)]
    if 2 not in closed:
        command.append(f"2>>{windows_path(f'/proc/{os.getpid()}/fd/2')}")

    def start(emulator_log):
        return subprocess.Popen(command, stderr=emulator_log, start_new_session=True,
                                preexec_fn=lambda: [on_one_cpu(), *map(os.close, closed)])

    with open(f"{wine_prefix}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        made = pathlib.Path(wine_prefix, "made")
        if not made.exists() and not make_prefix(wine, wine_prefix):
            note(wine_prefix, "making the prefix failed")
            return GAVE_UP
        made.touch()
        status = attempt_all(wine_prefix, f"{os.path.basename(program)} {' '.join(arguments)}".rstrip(),
                             start, RUN_LIMIT, attempts=1)
    return GAVE_UP if status is None else status


def main(argv):
    if argv[:1] == ["--win32"]:
        os.environ["WINEARCH"] = "win32"
        argv = argv[1:]
    if len(argv) < 2:
        sys.exit(__doc__)
    wine, program, arguments = argv[0], argv[1], argv[2:]
    wine_prefix = os.path.join(os.path.dirname(os.path.abspath(program)), "wineprefix")
    os.environ.update(WINEPREFIX=wine_prefix, WINEDEBUG="-all",
                      # No .NET or HTML engine to offer, no crash debugger to
                      # hold a run until its time limit, no menu builder.
                      WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe,winemenubuilder.exe=d")

    def interrupted(number, _frame):
        end_prefix_processes(wine_prefix)
        sys.exit(128 + number)

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, interrupted)
    return run_in_prefix(wine, wine_prefix, program, arguments)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
