#!/usr/bin/python3 -B
"""Runs greeting's container image with an OCI runtime (runc), as a
container runs it, but with greeting's standard input, output and error
this runner's own: the container image preset's emulator for the table of
cases.

- The image is unpacked once (umoci unpack) into WORK, into a bundle
  whose root file system every run shares, read-only.
- Each run is the image's own config, as umoci gives it, with this
  runner's arguments after the entrypoint, its environment, and its
  file-size and data limits (OCI rlimits), raised again for the runner
  and runc themselves.
- runc runs the container detached (-d), where it hands the container the
  descriptors it was given, as they are: in the foreground it would put
  pipes of its own between them. The runner is the children's subreaper,
  so greeting, once runc has gone, is its child: it waits for greeting and
  ends as greeting ended, with its status or by its signal.
- A standard stream closed here stays closed for greeting: held by
  /dev/null while the runner works, so that nothing it opens lands there,
  and closed again in runc's process.

greeting runs as the first process of its PID namespace, as in any
container, and the kernel sends that process no signal it has not asked
for: a reader that has gone, or the file-size limit, refuses the write
instead of ending greeting.

Where runc cannot set up any container here (in a chroot, whose root is
no mount point), the runner says so in one line beginning
"unusable here: ", in the file GREETING_EMULATOR_LOG names, or else on
standard error, and exits 125: the case is then skipped.

Usage: oci_run.py RUNC UMOCI WORK IMAGE [ARG...]
IMAGE is an OCI image archive (greeting-VERSION-oci.tar). Exits with
greeting's status; 125 if the container could not be started.
"""

import contextlib
import ctypes
import fcntl
import hashlib
import json
import os
import resource
import signal
import subprocess
import sys
import tarfile

from closed_streams import hold_closed_streams

PR_SET_CHILD_SUBREAPER = 36
LIMITS = {"RLIMIT_FSIZE": resource.RLIMIT_FSIZE, "RLIMIT_DATA": resource.RLIMIT_DATA}
COULD_NOT_START = 125
UNLIMITED = (1 << 64) - 1  # as an OCI config writes "no limit"


def root_is_mount_point():
    with open("/proc/self/mountinfo", encoding="utf-8") as file:
        return any(line.split()[4] == "/" for line in file)


def say_unusable(why):
    line = f"unusable here: {why}\n"
    if log := os.environ.get("GREETING_EMULATOR_LOG"):
        with open(log, "a", encoding="utf-8") as file:
            file.write(line)
    else:
        with contextlib.suppress(OSError):
            os.write(2, line.encode())


def unpacked(umoci, work, image):
    """The bundle of the image, unpacked once into the work directory."""
    with open(image, "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()[:16]
    place = os.path.join(work, digest)
    os.makedirs(place, exist_ok=True)
    with open(f"{place}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        bundle = os.path.join(place, "bundle")
        if not os.path.exists(os.path.join(bundle, "config.json")):
            layout = os.path.join(place, "layout")
            with tarfile.open(image) as archive:
                archive.extractall(layout)
            with open(os.path.join(layout, "index.json")) as file:
                ref = json.load(file)["manifests"][0]["annotations"]["org.opencontainers.image.ref.name"]
            subprocess.run([umoci, "unpack", "--image", f"{layout}:{ref}", bundle], check=True,
                           stdout=subprocess.DEVNULL)
    return place, bundle


def run_config(bundle, arguments, limits):
    """The image's config for this run."""
    with open(os.path.join(bundle, "config.json")) as file:
        config = json.load(file)
    process = config["process"]
    process["terminal"] = False
    process["args"] = process["args"][:1] + arguments
    process["env"] = [f"{name}={value}" for name, value in os.environ.items() if name != "GREETING_EMULATOR_LOG"]
    process["rlimits"] = [limit for limit in process.get("rlimits", []) if limit["type"] not in limits]
    process["rlimits"] += [{"type": name, "soft": soft, "hard": UNLIMITED if hard == resource.RLIM_INFINITY else hard}
                           for name, (soft, hard) in limits.items() if soft != resource.RLIM_INFINITY]
    config["root"] = {"path": os.path.join(bundle, "rootfs"), "readonly": True}
    return config


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    runc, umoci, work, image, arguments = argv[0], argv[1], argv[2], argv[3], argv[4:]
    closed = hold_closed_streams()
    # greeting's limits, given to the container; the runner and runc work
    # without them.
    limits = {name: resource.getrlimit(number) for name, number in LIMITS.items()}
    for name, number in LIMITS.items():
        resource.setrlimit(number, (limits[name][1], limits[name][1]))
    if not root_is_mount_point():
        say_unusable("runc sets a container's root up by remounting /, which here is no mount point (a chroot, say)")
        return COULD_NOT_START
    place, bundle = unpacked(umoci, work, image)
    container = f"greeting-{os.getpid()}"
    run_bundle = os.path.join(place, container)
    os.makedirs(run_bundle)
    with open(os.path.join(run_bundle, "config.json"), "w") as file:
        json.dump(run_config(bundle, arguments, limits), file)
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    state = os.path.join(place, "state")
    pid_file = os.path.join(run_bundle, "pid")
    started = subprocess.run([runc, "--root", state, "run", "--detach", "--pid-file", pid_file, "--bundle", run_bundle,
                              container], preexec_fn=lambda: [os.close(descriptor) for descriptor in closed])
    try:
        if started.returncode:
            return COULD_NOT_START
        with open(pid_file) as file:
            _, status = os.waitpid(int(file.read()), 0)
    finally:
        subprocess.run([runc, "--root", state, "delete", "--force", container], stderr=subprocess.DEVNULL)
        for name in ("config.json", "pid"):
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(run_bundle, name))
        os.rmdir(run_bundle)
    if os.WIFSIGNALED(status):
        signal.signal(os.WTERMSIG(status), signal.SIG_DFL)
        os.kill(os.getpid(), os.WTERMSIG(status))
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
