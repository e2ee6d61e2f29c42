#!/usr/bin/python3
"""A file system whose files take every write and fail when closed (EIO),
as a network file system that finds out at close that it cannot keep them;
what was written can be read back. black_box.py mounts it with
`mounted(DIR)`, which runs `close_failing_fs.py serve DIR` in the background.
"""

import contextlib
import errno
import os
import stat
import subprocess
import sys
import time


class Unusable(Exception):
    """FUSE cannot be used on this machine: no /dev/fuse, or no right to mount."""


def load_fusepy():
    """fusepy, or the reason it cannot be used."""
    try:
        import fusepy
    except (ImportError, OSError) as error:  # OSError: fusepy found no libfuse
        return None, f"fusepy cannot be loaded: {error}"
    return fusepy, None


def serve(directory):
    fusepy, reason = load_fusepy()
    if fusepy is None:
        sys.exit(reason)

    class CloseFailingFS(fusepy.Operations):
        def __init__(self):
            self.files = {}
            self.now = time.time()

        def getattr(self, path, fh=None):
            times = {"st_atime": self.now, "st_mtime": self.now, "st_ctime": self.now}
            if path == "/":
                return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2, **times}
            if path not in self.files:
                raise fusepy.FuseOSError(errno.ENOENT)
            return {"st_mode": stat.S_IFREG | 0o644, "st_nlink": 1, "st_size": len(self.files[path]), **times}

        def create(self, path, mode, fi=None):
            self.files[path] = b""
            return 0

        def open(self, path, flags):
            if path not in self.files:
                raise fusepy.FuseOSError(errno.ENOENT)
            return 0

        def truncate(self, path, length, fh=None):
            self.files[path] = self.files[path][:length]

        def read(self, path, size, offset, fh):
            return self.files[path][offset : offset + size]

        def write(self, path, data, offset, fh):
            content = self.files[path].ljust(offset, b"\0")
            self.files[path] = content[:offset] + data + content[offset + len(data) :]
            return len(data)

        def unlink(self, path):
            self.files.pop(path, None)

        def flush(self, path, fh):
            # Every close(2) of a descriptor on a file here arrives as a flush.
            raise fusepy.FuseOSError(errno.EIO)

    fusepy.FUSE(CloseFailingFS(), directory, foreground=True, nothreads=True)


@contextlib.contextmanager
def mounted(directory, hint):
    """Mounts the file system on `directory` for the `with` block. Raises
    Unusable where FUSE cannot be used here; fails where fusepy or
    fusermount3 is missing, as a test whose tool is missing does, saying how
    to install them (`hint`)."""
    try:
        os.close(os.open("/dev/fuse", os.O_RDWR))
    except OSError as error:
        raise Unusable(f"/dev/fuse cannot be used: {error.strerror}") from None
    if load_fusepy()[0] is None or not any(
        os.access(os.path.join(path, "fusermount3"), os.X_OK) for path in os.get_exec_path()
    ):
        sys.exit(f"the close-failing file system needs fusepy and fusermount3 ({hint})")
    # fusermount3 unmounts for an ordinary user only where it can read the
    # mount table there; a system that booted has it, a bare container may not.
    if os.geteuid() != 0 and not os.path.exists("/etc/mtab"):
        raise Unusable("FUSE could mount here but not unmount: there is no /etc/mtab")
    os.makedirs(directory, exist_ok=True)
    log_path = directory.rstrip("/") + ".log"
    with open(log_path, "w") as log:
        # The server runs on in the background, so it must not hold the test
        # runner's output pipes.
        server = subprocess.Popen([sys.executable, __file__, "serve", directory],
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    for _ in range(100):
        if os.path.ismount(directory):
            break
        if server.poll() is not None:
            with open(log_path) as log:
                message = log.read().strip()
            if "not permitted" in message or "Permission denied" in message:
                raise Unusable(f"FUSE cannot mount here: {message}")
            sys.exit(f"the close-failing file system did not mount: {message}")
        time.sleep(0.1)
    else:
        sys.exit(f"the close-failing file system did not mount within 10 s; see {log_path}")
    try:
        yield directory
    finally:
        subprocess.run(["fusermount3", "-u", directory], check=True)
        server.wait()


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "serve":
        sys.exit(__doc__)
    serve(sys.argv[2])
