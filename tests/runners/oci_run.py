#!/usr/bin/python3 -B
"""Runs greeting's container image with runc, as a container runs it, but
with this runner's standard input, output and error: the oci preset's
launcher for the table of cases.

- The platform's layer is unpacked once, beside the archive, into a root
  file system every run shares, read-only; another architecture's program
  runs there under QEMU (.ci/register-binfmt).
- Each run is the default container runc writes for a bundle, running the image's
  entrypoint with this runner's arguments, as the image's user, with its
  environment and its file-size and data limits (OCI rlimits), which the
  runner and runc themselves do without.
- runc runs it detached, where it hands the container its descriptors as
  they are (in the foreground it would put pipes between them), with its
  state at a short path under /tmp. As the children's subreaper, the runner
  waits for greeting, at most a minute, and ends as it ended.
- A closed standard stream stays closed for greeting.

greeting is the first process of its PID namespace, which the kernel sends
no signal it has not asked for: a reader that has gone, or the file-size
limit, refuses the write instead of ending it. Where runc can set up no
container (a chroot, whose root is no mount point), the runner says so in a
line beginning "unusable here: " (GREETING_EMULATOR_LOG's file, or standard
error) and exits 125.

Usage: oci_run.py RUNC TAG PLATFORM IMAGE [ARG...]
IMAGE is the OCI image archive, TAG its image index's, PLATFORM the image's
(linux/arm64, say). Exits with greeting's status; 125 if the container
could not be started, or greeting did not end in time.
"""

import ctypes
import fcntl
import json
import os
import pathlib
import resource
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import support  # noqa: E402

PR_SET_CHILD_SUBREAPER = 36
LIMITS = {"RLIMIT_FSIZE": resource.RLIMIT_FSIZE, "RLIMIT_DATA": resource.RLIMIT_DATA}
COULD_NOT_START = 125
UNLIMITED = (1 << 64) - 1  # as an OCI config writes "no limit"
TIME_LIMIT = 60  # seconds: greeting ends long before, or is stuck


def root_file_system(image, tag, platform):
    """The platform's config and unpacked layer, or None, None."""
    with support.OciArchive(image) as archive:
        images = archive.images(tag)
        if platform not in images:
            return None, None
        manifest, config = images[platform]
        layer = manifest["layers"][0]
        root = os.path.join(f"{image}.layers", layer["digest"][7:23])
        os.makedirs(os.path.dirname(root), exist_ok=True)
        with open(f"{root}.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.isdir(root):
                with archive.layer(layer) as files:
                    files.extractall(f"{root}.partial", numeric_owner=True)
                os.rename(f"{root}.partial", root)
    return config["config"], root


def run_config(runc, image_config, root, arguments, limits):
    """runc's own default container, running greeting as the image says."""
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run([runc, "spec", "--bundle", scratch], check=True)
        config = json.loads(pathlib.Path(scratch, "config.json").read_text())
    process = config["process"]
    uid, gid = (int(part) for part in image_config.get("User", "0:0").split(":"))
    process.update(terminal=False, user={"uid": uid, "gid": gid}, cwd="/",
                   args=image_config["Entrypoint"] + arguments,
                   env=[f"{name}={value}" for name, value in os.environ.items() if name != "GREETING_EMULATOR_LOG"])
    process["rlimits"] = [limit for limit in process.get("rlimits", []) if limit["type"] not in limits]
    process["rlimits"] += [{"type": name, "soft": soft, "hard": UNLIMITED if hard == resource.RLIM_INFINITY else hard}
                           for name, (soft, hard) in limits.items() if soft != resource.RLIM_INFINITY]
    config["root"] = {"path": root, "readonly": True}
    return config


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    runc, tag, platform, image, arguments = argv[0], argv[1], argv[2], argv[3], argv[4:]
    closed = support.hold_closed_streams()
    # greeting's limits go to the container; the runner and runc do without.
    limits = {name: resource.getrlimit(number) for name, number in LIMITS.items()}
    for name, number in LIMITS.items():
        resource.setrlimit(number, (limits[name][1], limits[name][1]))
    if not support.root_is_mount_point():
        support.log(f"unusable here: {support.NO_MOUNT_POINT}")
        return COULD_NOT_START
    image_config, root = root_file_system(image, tag, platform)
    if root is None:
        support.log(f"unusable here: the image holds no {platform} program: packing leaves out a platform whose "
                    "glibc source cannot be had (package.image says which)")
        return COULD_NOT_START
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    with tempfile.TemporaryDirectory(prefix="runc-", dir="/tmp") as state:
        bundle, container = os.path.join(state, "bundle"), f"greeting-{os.getpid()}"
        os.makedirs(bundle)
        pathlib.Path(bundle, "config.json").write_text(json.dumps(run_config(runc, image_config, root, arguments,
                                                                              limits)))
        pid_file = os.path.join(bundle, "pid")
        started = subprocess.run([runc, "--root", state, "run", "--detach", "--pid-file", pid_file, "--bundle",
                                  bundle, container], preexec_fn=lambda: [*map(os.close, closed)])
        try:
            if started.returncode:
                return COULD_NOT_START
            pid = int(pathlib.Path(pid_file).read_text())
            deadline = time.monotonic() + TIME_LIMIT
            while (ended := os.waitpid(pid, os.WNOHANG))[0] == 0:
                if time.monotonic() > deadline:
                    support.log(f"oci_run.py: greeting did not end within {TIME_LIMIT} s")
                    return COULD_NOT_START
                time.sleep(0.01)
            status = ended[1]
        finally:
            subprocess.run([runc, "--root", state, "delete", "--force", container], stderr=subprocess.DEVNULL)
    if os.WIFSIGNALED(status):
        signal.signal(os.WTERMSIG(status), signal.SIG_DFL)
        os.kill(os.getpid(), os.WTERMSIG(status))
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
