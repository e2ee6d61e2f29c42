#!/usr/bin/python3
"""Makes greeting's container image archive: an OCI image layout, as a tar,
that podman, Docker, containerd and skopeo all load.

- For each platform, an image of one layer, FROM scratch: the static
  program at /usr/bin/greeting and, beside its licence, its notices and
  bill, from the staged install (the host's) or that platform's tarball.
  Its config names the platform and runs greeting as 65532:65532, numeric,
  so that no passwd file is needed.
- One image index of them all, tagged VERSION, and the source image,
  VERSION-source, holding under /usr/src/debian the Debian source packages
  that go with it, a layer each.
- index.json names both as the OCI layout and containerd read them
  (org.opencontainers.image.ref.name: the tag; io.containerd.image.name:
  the normalized name); manifest.json beside it, as `docker save` writes it
  since Docker 25, is what Docker's classic store loads: an entry a
  platform, tagged VERSION-ARCH, the host's VERSION too.

Written here rather than by buildah or umoci, which write only as root or
in a user namespace, and with the time of the build: every time is the
release epoch (or SOURCE_DATE_EPOCH), every entry root's, mode 755 or 644,
in name order, and the JSON canonical, so the same files give the same
archive.

Usage: oci_image.py FACTS ARCHIVE SOURCES PLATFORM=ROOT...
PLATFORM is linux/ARCH[/VARIANT], the host's first; ROOT the staged install
or a static tarball; SOURCES a directory of Debian source packages.
"""

import datetime
import glob
import gzip
import hashlib
import io
import json
import os
import pathlib
import subprocess
import sys
import tarfile

MEDIA = "application/vnd.oci.image."
USER = "65532:65532"
SOURCE_ROOT = "usr/src/debian"


def canonical(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":")).encode()


def tar(files, epoch):
    """A tar of {name: (bytes, mode)}, with each directory above them, in
    name order, every entry root's."""
    directories = set()
    for name in files:
        parts = name.split("/")[:-1]
        directories |= {"/".join(parts[:depth]) + "/" for depth in range(1, len(parts) + 1)}
    packed = io.BytesIO()
    with tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name in sorted(directories | set(files)):
            content, mode = files.get(name, (None, 0o755))
            entry = tarfile.TarInfo(name)
            entry.type = tarfile.REGTYPE if content is not None else tarfile.DIRTYPE
            entry.mode, entry.mtime, entry.size = mode, epoch, len(content or b"")
            entry.uid = entry.gid = 0
            entry.uname = entry.gname = "root"
            archive.addfile(entry, io.BytesIO(content) if content is not None else None)
    return packed.getvalue()


class Layout:
    """The blobs of an OCI image layout, by digest."""

    def __init__(self):
        self.blobs = {}

    def add(self, media_type, content, **fields):
        digest = f"sha256:{hashlib.sha256(content).hexdigest()}"
        self.blobs[f"blobs/sha256/{digest[7:]}"] = (content, 0o644)
        return {"mediaType": media_type, "digest": digest, "size": len(content), **fields}


def installed_files(facts, root):
    """{path in the install: content} of what the image holds of an
    install: the program, its licence, the notices and the bill (no manual
    page: no man in an image FROM scratch)."""
    wanted = [facts["installed"][key] for key in ("program", "licence", "notices", "bom")]
    if os.path.isdir(root):
        return {name: open(os.path.join(root, name), "rb").read() for name in wanted}
    with tarfile.open(root) as archive:  # under one directory named after the package
        top = archive.getmembers()[0].name.split("/")[0]
        return {name: archive.extractfile(f"{top}/{name}").read() for name in wanted}


def licences_of(facts, bill):
    """The licences of all an image holds, as SPDX terms: greeting's, and
    those of each project's code linked in, as its bill gives them."""
    return {facts["licence"]}.union(*((entry.get("expression") or entry["license"]["id"]).split(" AND ")
                                      for component in bill["components"] for entry in component.get("licenses", [])))


def image(layout, platform, layers, labels, gzipped=True, platform_field=True, **config):
    """The manifest of an image of these layers, and its descriptor."""
    _, architecture, *variant = platform.split("/")
    fields = {"architecture": architecture, "os": "linux", **({"variant": variant[0]} if variant else {})}
    created = labels["org.opencontainers.image.created"]
    config = {"created": created, **fields, "config": dict(config, Labels=labels),
              "rootfs": {"type": "layers", "diff_ids": [f"sha256:{hashlib.sha256(layer).hexdigest()}"
                                                        for layer in layers]},
              "history": [{"created": created, "created_by": "greeting's release/oci_image.py"} for _ in layers]}
    manifest = {"schemaVersion": 2, "mediaType": f"{MEDIA}manifest.v1+json",
                "config": layout.add(f"{MEDIA}config.v1+json", canonical(config)),
                "layers": [layout.add(f"{MEDIA}layer.v1.tar+gzip", gzip.compress(layer, compresslevel=9, mtime=0))
                           if gzipped else layout.add(f"{MEDIA}layer.v1.tar", layer) for layer in layers],
                "annotations": labels}
    return manifest, layout.add(f"{MEDIA}manifest.v1+json", canonical(manifest),
                                **({"platform": fields} if platform_field else {}))


def platform_image(facts, layout, platform, root, epoch, labels):
    """One platform's image, and the licences of all it holds."""
    files = installed_files(facts, root)
    licences = licences_of(facts, json.loads(files[facts["installed"]["bom"]]))
    program = facts["installed"]["program"]
    layer = tar({f"usr/{name}": (content, 0o755 if name == program else 0o644) for name, content in files.items()},
                epoch)
    labels = dict(labels, **{"org.opencontainers.image.licenses": " AND ".join(sorted(licences))})
    return (*image(layout, platform, [layer], labels, Entrypoint=[f"/usr/{program}"], User=USER), licences)


def source_image(layout, sources, epoch, labels, host):
    """The image of the Debian source packages that go with the program."""
    layers = []
    for dsc in sorted(glob.glob(os.path.join(sources, "*.dsc"))):
        package = os.path.basename(dsc)[:-4]
        names = [os.path.basename(dsc)] + [line.split()[2] for line in pathlib.Path(dsc).read_text()
                                           .split("Checksums-Sha256:\n")[1].split("\n") if line.startswith(" ")]
        layers.append(tar({f"{SOURCE_ROOT}/{package}/{name}": (pathlib.Path(sources, name).read_bytes(), 0o644)
                           for name in names}, epoch))
    return image(layout, host, layers, labels, gzipped=False, platform_field=False)


def common_labels(facts, epoch):
    created = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    labels = {"title": facts["name"], "description": facts["description"], "version": facts["version"],
              "vendor": facts["authors"], "created": created, "source": facts.get("source_url", "")}
    # The commit, only where the sources are a git work tree's top, not a
    # source package unpacked inside some other work tree.
    source_dir = facts["source_dir"]
    top = subprocess.run(["git", "-c", "safe.directory=*", "-C", source_dir, "rev-parse", "--show-toplevel", "HEAD"],
                         capture_output=True, text=True).stdout.split()
    if len(top) == 2 and os.path.realpath(top[0]) == os.path.realpath(source_dir):
        labels["revision"] = top[1]
    return {f"org.opencontainers.image.{key}": value for key, value in labels.items() if value}


def tagged(descriptor, tag):
    return dict(descriptor, annotations={"io.containerd.image.name": f"docker.io/library/greeting:{tag}",
                                         "org.opencontainers.image.ref.name": tag})


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    facts = json.loads(pathlib.Path(argv[0]).read_text())
    archive, sources, roots = argv[1], argv[2], [argument.split("=", 1) for argument in argv[3:]]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or facts["release_epoch"])
    version, layout = facts["version"], Layout()
    labels = common_labels(facts, epoch)
    source_tag = f"{version}-source"
    labels["greeting.source-image"] = f"greeting:{source_tag}"
    images = [(platform, *platform_image(facts, layout, platform, root, epoch, labels)) for platform, root in roots]
    every = " AND ".join(sorted(set().union(*(licences for *_, licences in images))))
    index_labels = dict(labels, **{"org.opencontainers.image.licenses": every})
    platforms = layout.add(f"{MEDIA}index.v1+json", canonical({
        "schemaVersion": 2, "mediaType": f"{MEDIA}index.v1+json", "annotations": index_labels,
        "manifests": [descriptor for _, _, descriptor, _ in images]}))
    source_manifest, source_descriptor = source_image(layout, sources, epoch, labels, roots[0][0])
    index = {"schemaVersion": 2, "mediaType": f"{MEDIA}index.v1+json",
             "manifests": [tagged(platforms, version), tagged(source_descriptor, source_tag)]}
    # Docker's classic store: one image a tag, the host's also plain VERSION.
    entries = [(manifest, [f"greeting:{version}-{platform.split('/', 1)[1].replace('/', '')}"] +
                ([f"greeting:{version}"] if number == 0 else [])) for number, (platform, manifest, *_) in enumerate(images)]
    docker = [{"Config": f"blobs/sha256/{manifest['config']['digest'][7:]}", "RepoTags": repo_tags,
               "Layers": [f"blobs/sha256/{layer['digest'][7:]}" for layer in manifest["layers"]]}
              for manifest, repo_tags in [*entries, (source_manifest, [f"greeting:{source_tag}"])]]
    files = dict(layout.blobs, **{"oci-layout": (canonical({"imageLayoutVersion": "1.0.0"}), 0o644),
                                  "index.json": (canonical(index), 0o644),
                                  "manifest.json": (canonical(docker), 0o644)})
    with open(archive, "wb") as file:
        file.write(tar(files, epoch))


if __name__ == "__main__":
    main(sys.argv[1:])
