#!/usr/bin/python3
"""Makes greeting's container image: an OCI image archive (an OCI image
layout, as a tar) of one layer on no base (FROM scratch), holding only the
files given, whose config starts greeting.

It is written here, byte by byte, rather than by buildah or umoci: both
write an image only as root or through a user namespace with subordinate
ids, which the reproducible builds, as another user, do not have, and both
write the time of the build into it. Here every time is SETTINGS' epoch,
every entry root's, in name order, with mode 755 or 644, and the JSON in
one canonical form, so the same files give the same archive, byte for byte.

Usage: oci_image.py ROOT ARCHIVE SETTINGS FILE...
ROOT is the staged install; each FILE, relative to it, goes into the image
at /PREFIX/FILE; ARCHIVE is the image archive to write. SETTINGS is JSON:
prefix, entrypoint (relative to ROOT), architecture (GOARCH's name), epoch,
ref (the image's name in the archive, NAME:TAG), and the labels, by OCI
annotation key.
"""

import datetime
import gzip
import hashlib
import io
import json
import os
import sys
import tarfile

MEDIA = "application/vnd.oci.image."


def canonical(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":")).encode()


def entry(name, epoch, mode, size=0, directory=False):
    info = tarfile.TarInfo(name)
    info.type = tarfile.DIRTYPE if directory else tarfile.REGTYPE
    info.mode, info.size, info.mtime = mode, size, epoch
    info.uid = info.gid = 0
    info.uname = info.gname = "root"
    return info


def tar(files, epoch):
    """A tar of {name: (bytes, mode)}, with each directory above them, in
    name order."""
    directories = set()
    for name in files:
        parts = name.split("/")[:-1]
        directories |= {"/".join(parts[:depth]) + "/" for depth in range(1, len(parts) + 1)}
    packed = io.BytesIO()
    with tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name in sorted(directories | set(files)):
            if name in directories:
                archive.addfile(entry(name, epoch, 0o755, directory=True))
            else:
                content, mode = files[name]
                archive.addfile(entry(name, epoch, mode, len(content)), io.BytesIO(content))
    return packed.getvalue()


def blob(media_type, content, blobs, annotations=None):
    """A descriptor of the content, which is put among the blobs."""
    digest = f"sha256:{hashlib.sha256(content).hexdigest()}"
    blobs[f"blobs/sha256/{digest[7:]}"] = (content, 0o644)
    descriptor = {"mediaType": media_type, "digest": digest, "size": len(content)}
    if annotations:
        descriptor["annotations"] = annotations
    return descriptor


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    root, archive, settings, files = argv[0], argv[1], json.loads(argv[2]), argv[3:]
    epoch = int(settings["epoch"])
    created = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    labels = dict(settings["labels"], **{"org.opencontainers.image.created": created})
    prefix = settings["prefix"].strip("/")
    layer_files = {}
    for name in files:
        with open(os.path.join(root, name), "rb") as file:
            content = file.read()
        mode = 0o755 if name == settings["entrypoint"] else 0o644
        layer_files[f"{prefix}/{name}"] = (content, mode)
    layer = tar(layer_files, epoch)

    blobs = {}
    config = {
        "created": created, "architecture": settings["architecture"], "os": "linux",
        "config": {"Entrypoint": [f"/{prefix}/{settings['entrypoint']}"], "Labels": labels},
        "rootfs": {"type": "layers", "diff_ids": [f"sha256:{hashlib.sha256(layer).hexdigest()}"]},
        "history": [{"created": created, "created_by": "greeting's packaging/oci_image.py"}],
    }
    manifest = {
        "schemaVersion": 2, "mediaType": f"{MEDIA}manifest.v1+json",
        "config": blob(f"{MEDIA}config.v1+json", canonical(config), blobs),
        "layers": [blob(f"{MEDIA}layer.v1.tar+gzip", gzip.compress(layer, compresslevel=9, mtime=0), blobs)],
        "annotations": labels,
    }
    index = {
        "schemaVersion": 2, "mediaType": f"{MEDIA}index.v1+json",
        "manifests": [blob(f"{MEDIA}manifest.v1+json", canonical(manifest), blobs,
                           {"org.opencontainers.image.ref.name": settings["ref"]})],
    }
    layout = dict(blobs, **{"oci-layout": (canonical({"imageLayoutVersion": "1.0.0"}), 0o644),
                            "index.json": (canonical(index), 0o644)})
    with open(archive, "wb") as file:
        file.write(tar(layout, epoch))


if __name__ == "__main__":
    main(sys.argv[1:])
