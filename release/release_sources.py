#!/usr/bin/python3
"""Puts beside a release's packages the Debian source packages that the
licences of what is linked into them ask to go with the program (glibc's
LGPL, for the static programs): those that each package's bill of
materials marks (greeting:source-in-release). Each is had whole, its .dsc
and every file it lists, at the version linked, once.

They come through apt, from the machine's own Debian mirror, its sources
taken as deb-src into a private apt state in the cache (no root needed, the
machine's apt untouched), which keeps the files for the next release. apt
checks the mirror's signatures, and so vouches for the index that gives each
file's SHA-256; a cached file is trusted only as that index vouches for it,
and the source must unpack (dpkg-source -x checks each file against the
.dsc). A Release file's expiry is not checked: an exact old version is
wanted.

Usage: release_sources.py FACTS INTO PACKAGE...
FACTS is the build's build-facts.json (its sources_cache is the cache);
each PACKAGE a package of the release (.tar.gz, .zip, the image's .tar) or
a staged install. Prints each file put into INTO. Exits 3 where the mirror
cannot give a source, saying what apt said, and 1 where the release must
stop for another reason (a cached file that changed, say).
"""

import glob
import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import support  # noqa: E402

ENV = dict(os.environ, LC_ALL="C")
CANNOT_BE_HAD = 3  # the status that says the mirror cannot give a source


def bills(package, version):
    """The bills of materials in a package: a .zip, a .tar.gz, the container
    image archive (in each platform's layer), or a directory."""
    if os.path.isdir(package):
        for path in glob.glob(os.path.join(package, "**", "*.cdx.json"), recursive=True):
            yield json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    elif package.endswith(".zip"):
        with zipfile.ZipFile(package) as archive:
            yield from (json.loads(archive.read(name)) for name in archive.namelist() if name.endswith(".cdx.json"))
    elif package.endswith(".tar.gz"):
        with tarfile.open(package) as archive:
            yield from (json.load(archive.extractfile(member)) for member in archive if member.name.endswith(".cdx.json"))
    elif package.endswith(".tar"):
        with support.OciArchive(package) as image:
            for manifest, _config in image.images(version).values():
                with image.layer(manifest["layers"][0]) as layer:
                    yield from (json.load(layer.extractfile(member)) for member in layer
                                if member.name.endswith(".cdx.json"))


def wanted(packages, version):
    """{.dsc name: (source package, version)} that the bills put in the release."""
    return {entry["value"]: (component["name"], component["version"]) for package in packages
            for bill in bills(package, version) for component in bill["components"]
            for entry in component.get("properties", []) if entry["name"] == "greeting:source-in-release"}


def apt(cache, *arguments, cwd=None):
    state = os.path.join(cache, "apt")
    options = [f"-o{name}={value}" for name, value in (
        ("Dir::Etc::SourceList", "/dev/null"), ("Dir::Etc::SourceParts", f"{state}/sources"),
        ("Dir::State::Lists", f"{state}/lists"), ("Dir::Cache", f"{state}/cache"), ("Debug::NoLocking", "true"),
        ("Acquire::Check-Valid-Until", "false"))]
    return subprocess.run(["apt-get", "--quiet", *options, *arguments], env=ENV, cwd=cwd, capture_output=True,
                          text=True)


def update(cache):
    """The private apt state: this machine's Debian sources, as deb-src."""
    state = os.path.join(cache, "apt")
    shutil.rmtree(state, ignore_errors=True)
    for directory in ("sources", "lists/partial", "cache/archives/partial"):
        os.makedirs(os.path.join(state, directory))
    machine = ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list") +
                                                 glob.glob("/etc/apt/sources.list.d/*.sources"))
    for number, path in enumerate(path for path in machine if os.path.isfile(path)):
        text = re.sub(r"^Types:.*$", "Types: deb-src", pathlib.Path(path).read_text(encoding="utf-8"), flags=re.M)
        pathlib.Path(state, "sources", f"{number:02}-{os.path.basename(path)}").write_text(
            re.sub(r"^deb(\s)", r"deb-src\1", text, flags=re.M))
    return apt(cache, "update")


def vouched(cache, source, version):
    """{file name: (size, SHA-256)} of a source package, as apt's signed
    index gives them; exits, saying what apt said, where it cannot."""
    said = ""
    for attempt in range(2):
        if attempt or not os.path.isdir(os.path.join(cache, "apt", "lists")):
            updated = update(cache)  # first use, or lists too old to know the version
            said = f"apt-get update said:\n{updated.stdout}{updated.stderr}"
        done = apt(cache, "source", "--print-uris", f"{source}={version}")
        files = {name: (int(size), digest.split(":", 1)[1].lower()) for name, size, digest in
                 re.findall(r"^'[^']+' (\S+) (\d+) (SHA256:[0-9a-fA-F]+)$", done.stdout, re.M)}
        if done.returncode == 0 and files:
            return files
        said = f"{said}\napt-get source said:\n{done.stdout}{done.stderr}"
    print(f"release_sources.py: the source of {source} {version} cannot be had, and the release must not ship "
          f"without it. {said.strip()}", file=sys.stderr)
    sys.exit(CANNOT_BE_HAD)


def fetch(cache, source, version):
    """The directory in the cache that holds the source package whole, as
    Debian's signed index vouches for each file, and unpacking."""
    downloads = os.path.join(cache := os.path.abspath(cache), "downloads")
    os.makedirs(downloads, exist_ok=True)
    listed = vouched(cache, source, version)

    def differing():
        return [name for name, vouched_for in listed.items() if os.path.exists(path := os.path.join(downloads, name))
                and (len(content := pathlib.Path(path).read_bytes()), hashlib.sha256(content).hexdigest()) != vouched_for]

    if wrong := differing():
        sys.exit(f"release_sources.py: {', '.join(wrong)} in {downloads} is not what Debian's signed index says "
                 f"{source} {version} holds: the release stops. Remove it, and the next release fetches it anew.")
    if not all(os.path.exists(os.path.join(downloads, name)) for name in listed):
        done = apt(cache, "source", "--download-only", f"{source}={version}", cwd=downloads)
        missing = [name for name in listed if not os.path.exists(os.path.join(downloads, name))]
        if differing():
            sys.exit(f"release_sources.py: what apt fetched of {source} {version} is not what its index says")
        if done.returncode or missing:
            print(f"release_sources.py: the source of {source} {version} cannot be had whole, and the release "
                  f"must not ship without it. apt-get source said:\n{done.stdout}{done.stderr}", file=sys.stderr)
            sys.exit(CANNOT_BE_HAD)
    dsc = next(name for name in listed if name.endswith(".dsc"))
    with tempfile.TemporaryDirectory() as scratch:
        if (done := subprocess.run(["dpkg-source", "--no-copy", "--skip-patches", "-x", os.path.join(downloads, dsc),
                                    os.path.join(scratch, "unpacked")], env=ENV, capture_output=True, text=True)).returncode:
            sys.exit(f"release_sources.py: {dsc} does not unpack:\n{done.stdout}{done.stderr}")
    return downloads, sorted(listed)


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    facts, into = support.facts(argv[0]), argv[1]
    for _dsc, (source, version) in sorted(wanted(argv[2:], facts["version"]).items()):
        downloads, names = fetch(facts["sources_cache"], source, version)
        for name in names:
            shutil.copyfile(os.path.join(downloads, name), os.path.join(into, name))
            os.chmod(os.path.join(into, name), 0o644)
            print(name)


if __name__ == "__main__":
    main(sys.argv[1:])
