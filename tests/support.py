"""What greeting's test and release scripts share: the build's facts
(build-facts.json, which CMake writes), the skip protocol, the launchers'
log and closed streams, whether / is a mount point, and reading an OCI
image archive."""

import contextlib
import io
import json
import os
import pathlib
import tarfile

SKIPPED = 77  # ctest's SKIP_RETURN_CODE for these tests
NO_MOUNT_POINT = ("runc and podman set a container's root up by remounting /, which here is no mount point "
                  "(a chroot, say)")


def facts(path):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def skip(why):
    """Says why the test can prove nothing here, also in GREETING_SKIP_NOTE's
    note, which ctest prints after the run; the status that says skipped."""
    print(f"Skipped: {why}")
    if note := os.environ.get("GREETING_SKIP_NOTE"):
        pathlib.Path(note).parent.mkdir(parents=True, exist_ok=True)
        pathlib.Path(note).write_text(f"{why}\n")
    return SKIPPED


def log(line, otherwise=None):
    """Appends a line to GREETING_EMULATOR_LOG's file, else to `otherwise`'s,
    else to standard error."""
    if path := os.environ.get("GREETING_EMULATOR_LOG") or otherwise:
        with open(path, "a", encoding="utf-8") as file:
            file.write(f"{line}\n")
    else:
        with contextlib.suppress(OSError):
            os.write(2, f"{line}\n".encode())


def hold_closed_streams():
    """Holds each standard stream closed here by /dev/null, so that nothing a
    launcher opens lands on it, and says which they are, for the launcher
    to close again in the process that starts the program."""
    closed = []
    for descriptor in (0, 1, 2):
        try:
            os.fstat(descriptor)
        except OSError:
            closed.append(descriptor)
            os.dup2(os.open(os.devnull, os.O_RDWR), descriptor)
    return closed


def root_is_mount_point():
    with open("/proc/self/mountinfo", encoding="utf-8") as file:
        return any(line.split()[4] == "/" for line in file)


class OciArchive:
    """An OCI image archive (an image layout, as a tar), read in place."""

    def __init__(self, path):
        self.archive = tarfile.open(path)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.archive.close()

    def read(self, name):
        return self.archive.extractfile(name).read()

    def blob(self, descriptor):
        return self.read(f"blobs/sha256/{descriptor['digest'][7:]}")

    def tagged(self, tag):
        """The descriptor index.json gives the tag."""
        for descriptor in json.loads(self.read("index.json"))["manifests"]:
            if descriptor.get("annotations", {}).get("org.opencontainers.image.ref.name") == tag:
                return descriptor
        raise KeyError(f"no image tagged {tag}")

    def images(self, tag):
        """{platform ("linux/arm64", "linux/arm/v7"): (manifest, config)} of
        the image or image index tagged so."""
        descriptor = self.tagged(tag)
        found = {}
        for entry in json.loads(self.blob(descriptor)).get("manifests", [descriptor]):
            manifest = json.loads(self.blob(entry))
            config = json.loads(self.blob(manifest["config"]))
            platform = "/".join(filter(None, (config["os"], config["architecture"], config.get("variant"))))
            found[platform] = (manifest, config)
        return found

    def layer(self, descriptor):
        """A layer, as an open tar (gzipped or not)."""
        return tarfile.open(fileobj=io.BytesIO(self.blob(descriptor)))
